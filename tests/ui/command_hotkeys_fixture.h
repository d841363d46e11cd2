#pragma once
// A logged-in station for the command keys: 张三 with three photos in the originals, the
// originals shown and 入库 chosen as the project folder.

#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "station_fixture.h"
#include "wait.h"

#include <QApplication>
#include <QComboBox>

class CommandHotkeys : public StationTest
{
  protected:
    void SetUp() override
    {
        StationTest::SetUp();
        tree.makeFolder(customer);
        tree.makeFolder(customer + "/入库");
        for (int i = 1; i <= 3; ++i)
            tree.writePhoto(customer + "/p" + std::to_string(i) + ".jpg");
        fillSourceList();
        fillProjectList();
        choose("组合框1", customer + "/入库");
        messages.clear();
        first = shownName();
    }

    // Shows the main window, waits until it is active and focuses the source list (null when
    // that did not happen).
    QComboBox *showWithSourceListFocused()
    {
        window->show();
        window->activateWindow();
        auto *sourceList =
            qobject_cast<QComboBox *>(host().control(StationWindow::main, "组合框2"));
        if (!waitUntil([&] { return QApplication::activeWindow() == window; }) || !sourceList)
            return nullptr;
        sourceList->setFocus();
        return waitUntil([&] { return sourceList->hasFocus(); }) ? sourceList : nullptr;
    }

    std::string first; // the photo shown first
};
