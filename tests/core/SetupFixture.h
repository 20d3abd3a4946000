#pragma once
// A started window (FormCreate, every handler bound through the one binding place) on the
// instrument emulator (unpaced, no noise), with its files in a temporary home folder. Tests press
// the buttons and click the lists as the operator does.

#include <algorithm>
#include <chrono>
#include <thread>

#include "config/ConfigFixture.h"
#include "core/BindWindowHandlers.h"
#include "core/MainThreadHandOver.h"
#include "core/RunController.h"
#include "core/SetupPage.h"
#include "core/StartUp.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"
#include "support/Clock.h"
#include "support/Log.h"

namespace moirex::testing_setup {

using sim::Instrument;
namespace fs = std::filesystem;

class SetupOnEmulator : public testing_config::HomeFolderTest {
protected:
    static sim::EmulatorOptions Options(const fs::path& home) {
        return testing_sim::QuickEmulator((home / "sim").string(), 20);
    }

    SetupOnEmulator() : emulator(Options(home)), run(mixer, handOver, clock), setup(run) {
        run.StopPollMaxMs = 20;
        run.PumpTiming = TPumpPortTiming{5, 150};
        setup.Instruments.Timing = TPumpPortTiming{5, 150};
        setup.Instruments.Clk = &clock;
        setup.ListPorts = [this] {
            std::vector<std::string> ports = extraPorts;
            for (Instrument i : {Instrument::Pump, Instrument::MfcA, Instrument::MfcB}) ports.push_back(emulator.PortPath(i));
            std::sort(ports.begin(), ports.end());
            return ports;
        };
        BindWindowHandlers(setup);
    }
    ~SetupOnEmulator() override {
        if (WorkerRunning(run)) StopAndKillThread(run);
        emulator.Stop();
        // Start-up in logging Off silences the default channel for the whole process.
        DefaultLogger().Enabled = true;
    }

    std::string Port(Instrument i) const { return emulator.PortPath(i); }

    // Selects `port` in `list` and raises the click, as the operator does; -1 clears the selection.
    void Select(TListBox& list, const std::string& port) {
        int index = -1;
        for (int i = 0; i < list.Count(); ++i)
            if (list.ItemText(i) == port) index = i;
        ASSERT_TRUE(port.empty() || index >= 0) << port << " is not listed";
        list.SetItemIndex(index);
        list.Click();
    }
    void SelectInstrumentPorts() {
        Select(form.ListBoxPortPump, Port(Instrument::Pump));
        Select(form.ListBoxPortMFC1, Port(Instrument::MfcA));
        Select(form.ListBoxPortMFC2, Port(Instrument::MfcB));
    }
    // A gas chosen by its position in the gas list.
    void Pick(TListBox& list, int position) {
        const size_t lines = form.MemoSetupFeedback.Lines().size();
        list.SetItemIndex(position);
        list.Click();
        const auto& l = form.MemoSetupFeedback.Lines();
        for (size_t i = lines; i < l.size(); ++i)
            if (l[i].find("Failed to set active gas") != std::string::npos) ADD_FAILURE() << l[i] << "\n" << l.back();
    }
    // The initialisation keeps the emulated pump busy for a moment; the next check waits for it.
    void WaitForIdlePump() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (emulator.Pump().Busy && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    void StartAndValidate() {
        FormCreate(setup);
        SelectInstrumentPorts();
        form.ButtonSetupValidate.Click();
        WaitForIdlePump();
        // What the page said, should a read-out have failed (a loaded machine answers late).
        EXPECT_TRUE(form.CheckBoxPump.Checked() && form.CheckBoxMFC.Checked()) << form.MemoSetupFeedback.Text();
    }
    std::vector<std::string> Feedback() const { return form.MemoSetupFeedback.Lines(); }
    bool FeedbackHas(const std::string& line) const {
        const auto& l = form.MemoSetupFeedback.Lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }

    std::vector<std::string> extraPorts;
    sim::Emulator emulator;
    TQueuedHandOver handOver;
    ManualClock clock;
    TRunContext run;
    TSetupContext setup;
};

}  // namespace moirex::testing_setup
