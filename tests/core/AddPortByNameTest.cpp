// "Add port": a port that "Find ports" does not list, typed by name into the three port lists.

#include "core/AddPortByName.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;

TEST(AddPortByName, TypedPortJoinsTheThreeListsKeepingTheirSelections) {
    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
    BindAddPortHandlers(mixer);
    const fs::path port = fs::temp_directory_path() / ("moirex-add-port-" + std::to_string(::getpid()));
    std::ofstream(port).put('\n');
    for (TListBox* list : {&form.ListBoxPortPump, &form.ListBoxPortMFC1, &form.ListBoxPortMFC2})
        list->AddItem("/dev/ttyUSB0");
    form.ListBoxPortMFC1.SetItemIndex(0);

    struct Case {
        const char* name;
        std::string typed;
        int key;  // 0: the button
        const char* message;  // refusal, or none
        int count;            // items of each list afterwards
    };
    const Case cases[] = {
        {"nothing typed", "  ", 0, "Type the name of a port to add, such as ttyUSB0 or /dev/pts/3.", 1},
        {"no such file", "/dev/moirex-no-such-port", 0, "Port /dev/moirex-no-such-port does not exist.", 1},
        {"a bare name means /dev/", "moirex-no-such-port", keys::Enter, "Port /dev/moirex-no-such-port does not exist.", 1},
        {"added by Enter", " " + port.string() + " ", keys::Enter, nullptr, 2},
        {"added once only", port.string(), 0, nullptr, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs.shown.clear();
        form.EditAddPort.SetText(c.typed);
        if (c.key)
            form.EditAddPort.KeyUp(c.key);
        else
            form.ButtonAddPort.Click();
        if (c.message) {
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].text, c.message);
        } else {
            EXPECT_TRUE(dialogs.shown.empty());
        }
        for (TListBox* list : {&form.ListBoxPortPump, &form.ListBoxPortMFC1, &form.ListBoxPortMFC2}) {
            ASSERT_EQ(list->Count(), c.count);
            if (c.count == 2) {
                EXPECT_EQ(list->ItemText(1), port.string());
            }
        }
        EXPECT_EQ(form.ListBoxPortMFC1.ItemIndex(), 0);
        EXPECT_EQ(form.ListBoxPortPump.ItemIndex(), -1);
    }
    EXPECT_EQ(form.MemoSetupFeedback.Lines(),
              (std::vector<std::string>{"Port " + port.string() + " added to the port lists",
                                        "Port " + port.string() + " is already listed"}));
    fs::remove(port);
}

}  // namespace
}  // namespace moirex
