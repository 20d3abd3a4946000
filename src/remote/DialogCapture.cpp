#include "remote/DialogCapture.h"

#include <utility>

namespace moirex {

void TDialogsRelay::ShowMessage(const std::string& text) {
    if (capturing_) captured_.push_back(text);
    else inner_.ShowMessage(text);
}

bool TDialogsRelay::AskYesNo(const std::string& text, const std::string& caption) {
    if (!capturing_) return inner_.AskYesNo(text, caption);
    captured_.push_back(text);
    return false;
}

void TDialogsRelay::ShowError(const std::string& text) {
    if (capturing_) captured_.push_back(text);
    else inner_.ShowError(text);
}

void TDialogsRelay::Begin() {
    capturing_ = true;
    captured_.clear();
}

std::vector<std::string> TDialogsRelay::End() {
    capturing_ = false;
    return std::exchange(captured_, {});
}

std::vector<std::string> TScriptedCapture::End() {
    std::vector<std::string> texts;
    for (size_t i = from_; i < dialogs_.shown.size(); ++i) texts.push_back(dialogs_.shown[i].text);
    return texts;
}

}  // namespace moirex
