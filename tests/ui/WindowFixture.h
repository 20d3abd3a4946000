#pragma once
// A shown window on a Form with nothing bound: the tests put their own handlers on the controls
// and count what the widgets raise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTabWidget>
#include <QTest>
#include <memory>

#include "form/Form.h"
#include "ui/MainWindow.h"

namespace moirex::testing_ui {

template <typename Widget>
Widget* Find(QWidget* window, const std::string& name) {
    auto* w = window->findChild<Widget*>(QString::fromStdString(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        window = std::make_unique<ui::TMainWindow>(
            form, ui::TWindowEvents{.CloseQuery = [this] { ++closeQueries; return allowClose; },
                                    .Close = [this] { ++closes; },
                                    .Resize = [this] { ++resizes; },
                                    .Timer1 = [this] { ++ticks; }});
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    // Shows the page the widget is on, so that it can be clicked.
    void ShowPage(int index) {
        form.PageControl1.SetActivePageIndex(index);
        QApplication::processEvents();
    }

    template <typename Widget>
    Widget* W(const TControl& control) {
        return Find<Widget>(window.get(), control.Name);
    }

    TForm1 form;
    std::unique_ptr<ui::TMainWindow> window;
    bool allowClose = true;
    int closeQueries = 0, closes = 0, resizes = 0, ticks = 0;
};

}  // namespace moirex::testing_ui
