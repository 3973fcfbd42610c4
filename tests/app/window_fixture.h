// A main window over a working state whose run directory is a fresh temporary folder, with the
// message box intercepted so a test sees each message instead of blocking on it.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/message_box.h"
#include "support/temp_dir.h"

namespace sorvane::test {

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        state.runDirectory = run.str();
        initWorkingState(state);
        setMessageInterceptor([this](const std::string& text, const std::string& title) {
            messages.emplace_back(title, text);
        });
        window = std::make_unique<MainWindow>(state);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));  // shortcuts need an active window
    }
    void TearDown() override {
        window.reset();
        setMessageInterceptor({});
    }

    QPushButton* named(const char* objectName) const {
        return window->findChild<QPushButton*>(QString::fromUtf8(objectName));
    }
    std::string paneText(int index) const { return window->pane(index)->text().toStdString(); }
    std::string resumeFile() const {
        const auto bytes = readFile(run.path() / "breakpoint.txt");
        return {bytes.begin(), bytes.end()};
    }

    TempDir run;
    WorkingState state;
    std::unique_ptr<MainWindow> window;
    std::vector<std::pair<std::string, std::string>> messages;  // title, text
};

}  // namespace sorvane::test
