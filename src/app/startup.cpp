#include "app/startup.h"

#include "app/settings.h"
#include "app/station_state.h"
#include "host/host_services.h"
#include "ui/main_window.h"

void startStation()
{
    station().loggedIn = 0;
    station().photoRoot = readPhotoRootSetting();
    showMainWindowFullScreen();
}

void changePassword() {}
void changeCustomer() {}
