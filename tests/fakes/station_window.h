#pragma once

#include "main_window.h"
#include "program_folder.h"
#include "pty_pair.h"
#include "scripted_dialogs.h"

#include <memory>
#include <string>

namespace mirv::test {

// The station's window started in a program folder of its own, with a pseudo-terminal as its
// port so that no test ever opens a real serial device.
struct StationWindow {
    ProgramFolder folder;
    PtyPair line;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    // `setupSql` runs on the fresh database before start-up.
    explicit StationWindow(const std::string& setupSql = {}, int port = 1) {
        folder.linkPort(port, line.slaveName());
        if (!setupSql.empty())
            folder.exec(setupSql);
        window = std::make_unique<MainWindow>(QString::fromStdString(folder.path()), dialogs);
        window->startUp();
    }
    MainWindow& w() { return *window; }
};

} // namespace mirv::test
