#pragma once
// Modal dialogs of the window. The Qt program shows real message boxes; tests and the
// command-line tool answer from a script and record what was asked.

#include <deque>
#include <functional>
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

    void ShowMessage(const std::string& text) override { Show({Entry::Message, text, {}}); }
    bool AskYesNo(const std::string& text, const std::string& caption) override {
        Show({Entry::Question, text, caption});
        if (answerQuestion) return answerQuestion(shown.back());
        if (answers.empty()) return defaultAnswer;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void ShowError(const std::string& text) override { Show({Entry::Error, text, {}}); }

    // Texts of all messages (of any kind) shown so far.
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& e : shown) t.push_back(e.text);
        return t;
    }

    std::deque<bool> answers;   // the next Yes/No answers
    bool defaultAnswer = false;  // when the script has run out
    std::vector<Entry> shown;
    // A tool that shows each entry as it comes (moirexctl prints it), and answers the questions
    // itself (typed on the terminal) instead of from the script.
    std::function<void(const Entry&)> onShown;
    std::function<bool(const Entry&)> answerQuestion;

private:
    void Show(Entry entry) {
        shown.push_back(std::move(entry));
        if (onShown) onShown(shown.back());
    }
};

}  // namespace moirex
