#include "HeadlessWindow.h"

#include <unistd.h>

#include <cctype>
#include <iostream>
#include <memory>

#include "core/BindWindowHandlers.h"
#include "core/RunBringUp.h"
#include "core/StartUp.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"

namespace moirexctl {

std::string TerminalText(std::string text) {
    // A line end of the window's texts ("\r\n", or carriage returns before a line feed) is one
    // line feed on a terminal; a carriage return elsewhere stays.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            const size_t next = text.find_first_not_of('\r', i);
            if (next != std::string::npos && text[next] == '\n') {
                i = next - 1;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool AskTypedYes() {
    std::cout << "Type yes to confirm, anything else to answer no: " << std::flush;
    std::string answer;
    char c = 0;
    while (true) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got <= 0) {
            std::cout << std::endl;
            return false;
        }
        if (c == '\n') break;
        answer += c;
        if (answer.size() > 100) return false;
    }
    std::string a = moirex::Trim(answer);
    for (char& ch : a) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return a == "yes";
}

HeadlessWindow::HeadlessWindow(std::optional<bool> answer) : answer_(answer) {
    dialogs.onShown = [](const moirex::ScriptedDialogs::Entry& e) {
        using Kind = moirex::ScriptedDialogs::Entry::Kind;
        if (e.kind == Kind::Question) std::cout << "\n== " << e.caption << "\n" << TerminalText(e.text) << std::endl;
        else if (e.kind == Kind::Error) std::cout << "error: " << TerminalText(e.text) << std::endl;
        else std::cout << "message: " << TerminalText(e.text) << std::endl;
    };
    dialogs.answerQuestion = [this](const moirex::ScriptedDialogs::Entry&) {
        if (answer_) {
            std::cout << (*answer_ ? "Answered Yes (--yes)." : "Answered No (--no).") << std::endl;
            return *answer_;
        }
        return AskTypedYes();
    };
    FollowMemo(form.MemoSetupFeedback);
    FollowMemo(form.MemoLog);
}

void HeadlessWindow::FollowMemo(moirex::TMemo& memo) {
    auto printed = std::make_shared<int>(0);
    memo.Subscribe([this, &memo, printed] {
        if (!printing_) return;
        if (memo.Count() < *printed) *printed = 0;  // cleared
        for (; *printed < memo.Count(); ++*printed) std::cout << TerminalText(memo.Line(*printed)) << std::endl;
    });
}

void HeadlessWindow::StopPrinting() {
    dialogs.onShown = nullptr;
    printing_ = false;
}

void HeadlessWindow::Start() {
    moirex::UseWindowProgramFiles();
    moirex::BindWindowHandlers(setup);
    moirex::FormCreate(setup);
}

void HeadlessWindow::SelectPort(moirex::TListBox& list, const std::string& port) {
    bool listed = false;
    for (int i = 0; i < list.Count(); ++i) listed = listed || list.ItemText(i) == port;
    if (!listed) {
        for (moirex::TListBox* l : {&form.ListBoxPortPump, &form.ListBoxPortMFC1, &form.ListBoxPortMFC2}) {
            const int selected = l->ItemIndex();
            l->AddItem(port);
            l->SetItemIndex(selected);
        }
    }
    moirex::SetListBox(port, list);
    list.Click();
}

void HeadlessWindow::Validate() { form.ButtonSetupValidate.Click(); }

int HeadlessWindow::GasPosition(const moirex::TMFCDetails& details, const std::string& choice,
                                std::string& error) const {
    const int table = moirex::ChooseGasTable(details, choice, error);
    return table == 0 ? -1 : table - static_cast<int>(moirex::TLUT::First);
}

void HeadlessWindow::PickGas(moirex::TListBox& list, int position) {
    list.SetItemIndex(position);
    list.Click();
}

bool HeadlessWindow::Ready() const {
    return mixer.MixerState == moirex::TMixerState::msReady && form.CheckBoxGas.Checked();
}

}  // namespace moirexctl
