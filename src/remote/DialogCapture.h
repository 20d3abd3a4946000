#pragma once
// What a handler shows while it runs for a remote client: the refusal texts ("No segment program
// to execute.", "Instruments not initialized. Cannot proceed.") are what the client gets in its
// error reply. Two shapes: a relay that sits between the mixer and the window's dialogs (while it
// captures, nothing pops up in front of the operator for a click made elsewhere), and a view of a
// ScriptedDialogs that records everything anyway (moirexctl serve).

#include <string>
#include <vector>

#include "form/Dialogs.h"

namespace moirex {

class TDialogCapture {
public:
    virtual ~TDialogCapture() = default;
    virtual void Begin() = 0;
    // The texts shown since Begin, in order.
    virtual std::vector<std::string> End() = 0;
};

// Forwards to `inner`, except while capturing: then messages and errors are only recorded, and a
// question is recorded and answered No (nobody at the remote end can answer it).
class TDialogsRelay final : public Dialogs, public TDialogCapture {
public:
    explicit TDialogsRelay(Dialogs& inner) : inner_(inner) {}
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void ShowError(const std::string& text) override;
    void Begin() override;
    std::vector<std::string> End() override;

private:
    Dialogs& inner_;
    bool capturing_ = false;
    std::vector<std::string> captured_;
};

class TScriptedCapture final : public TDialogCapture {
public:
    explicit TScriptedCapture(const ScriptedDialogs& dialogs) : dialogs_(dialogs) {}
    void Begin() override { from_ = dialogs_.shown.size(); }
    std::vector<std::string> End() override;

private:
    const ScriptedDialogs& dialogs_;
    size_t from_ = 0;
};

}  // namespace moirex
