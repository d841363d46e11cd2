#include "app/startup.h"

#include "app/program_start.h"
#include "app/settings.h"
#include "app/station_state.h"
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "host/host_services.h"
#include "ui/command_hotkeys.h"
#include "ui/login_window.h"
#include "ui/main_window.h"
#include "ui/password_window.h"
#include "web/fetch_url.h"

namespace
{

// Fills the lists, the counters, the marker and the first photo for station().customer.
void showCustomer()
{
    fillSourceList();
    fillProjectList();
    // The first photo was shown before there was a project folder: its marker is recomputed.
    refreshSelectedMarker();
    refreshTotal();
    refreshSelectedCount();
}

} // namespace

void startStation()
{
    StationState &state = station();
    state.loggedIn = 0;
    state.photoRoot = readPhotoRootSetting();
    sendStatisticsHit();
    if (state.photoRoot.empty()) {
        host().showMessage("请先设置相片目录");
        host().shellOpen(settingsPath());
        quitStation();
    }
    host().setThemedDrawing(1);
    showLoginWindow();
    if (state.loggedIn == 0)
        quitStation();
    showCustomer();
    registerCommandHotkeys();
    showMainWindowFullScreen();
}

void changePassword()
{
    showPasswordChangeWindow();
}

void changeCustomer()
{
    StationState &state = station();
    // Tells an accepted login from a closed window; a closed window changes nothing.
    state.loggedIn = 0;
    showLoginWindow();
    if (state.loggedIn == 0) {
        state.loggedIn = 1;
        return;
    }
    // Switch to the new customer whole. The lists are emptied first: a hot key can arrive
    // while the listings dispatch events, and must then find nothing of the previous customer.
    state.photoList.clear();
    state.currentIndex = 0;
    host().clearList(StationWindow::main, "组合框2");
    host().clearList(StationWindow::main, "组合框1");
    host().setCanvasPictureFromFile(StationWindow::main, "画板1", ""); // no file: no picture
    host().setControlText(StationWindow::main, "透明标签1", "");
    host().setControlText(StationWindow::main, "标签7", "");
    showCustomer();
}
