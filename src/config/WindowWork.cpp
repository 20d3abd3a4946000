#include "config/WindowWork.h"

#include <exception>
#include <memory>
#include <string>

#include "config/WindowBusy.h"
#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {

bool WorkOffMainThread(const TPumpToolAccess& access) { return access.Work && access.OnMainThread; }

void RunWindowWork(TMixer& mixer, const TPumpToolAccess& access, const char* name,
                   std::function<void(const TOnMainThread& onMain)> work, std::function<void()> end) {
    if (!WorkOffMainThread(access)) {
        {
            TWindowBusy busy(mixer.Form);
            work([](std::function<void()> fn) { fn(); });
        }
        end();
        return;
    }
    FormDisable(mixer.Form, true);
    TOnMainThread onMain = access.OnMainThread;
    // The end on the main thread; the window is enabled however it ends.
    auto finish = [&mixer, end] {
        struct TEnableOnExit {
            TForm1& form;
            ~TEnableOnExit() { FormDisable(form, false); }
        } enable{mixer.Form};
        end();
    };
    access.Work->Post(
        name,
        [&mixer, onMain, work = std::move(work), finish] {
            try {
                work(onMain);
            } catch (const std::exception& e) {
                const std::string what = e.what();
                onMain([&mixer, what] { mixer.Dlg.ShowError(what); });
            } catch (...) {
            }
            // An exception of the end itself is shown the same way; the window is enabled anyway.
            try {
                onMain(finish);
            } catch (const std::exception& e) {
                const std::string what = e.what();
                onMain([&mixer, what] { mixer.Dlg.ShowError(what); });
            }
        },
        [onMain, finish] {
            try {
                onMain(finish);
            } catch (...) {
            }
        });
}

}  // namespace moirex
