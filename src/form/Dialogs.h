#pragma once
// Modal dialogs of the window. The Qt program shows real message boxes; tests and the
// command-line tool answer from a script and record what was asked.

#include <deque>
#include <string>
#include <vector>

namespace moirex {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Information message; returns when the operator has pressed OK.
    virtual void ShowMessage(const std::string& text) = 0;
    // Yes/No question with a warning icon and a caption; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    // A failure that ends an event handler, shown with its text.
    virtual void ShowError(const std::string& text) = 0;
};

// Answers from a script and keeps every text shown, in order.
class ScriptedDialogs final : public Dialogs {
public:
    struct Entry {
        enum Kind { Message, Question, Error } kind;
        std::string text;
        std::string caption;
    };

    void ShowMessage(const std::string& text) override { shown.push_back({Entry::Message, text, {}}); }
    bool AskYesNo(const std::string& text, const std::string& caption) override {
        shown.push_back({Entry::Question, text, caption});
        if (answers.empty()) return defaultAnswer;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowError(const std::string& text) override { shown.push_back({Entry::Error, text, {}}); }

    // Texts of all messages (of any kind) shown so far.
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& e : shown) t.push_back(e.text);
        return t;
    }

    std::deque<bool> answers;   // the next Yes/No answers
    bool defaultAnswer = false;  // when the script has run out
    std::vector<Entry> shown;
};

}  // namespace moirex
