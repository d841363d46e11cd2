#include "app/program_start.h"

#include "app/startup.h"
#include "app/station_state.h"
#include "host/colour_management.h"
#include "host/host_services.h"
#include "ui/main_window.h"
#include "web/fetch_url.h"

#include <QApplication>
#include <QDir>
#include <QFont>

#include <unistd.h>

void initialiseHost()
{
    // The captions are designed for 宋体; fontconfig maps that family to the installed Song face.
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"));
    std::string runDirectory = host().runDirectory();
    if (::chdir(runDirectory.c_str()) != 0) {
        // Nothing depends on the current folder: every path the station builds is absolute.
    }
}

void cleanUpAtExit()
{
    StationState &state = station();
    state.photoList.clear();
    state.photoList.shrink_to_fit();
    state.customer.clear();
    state.customer.shrink_to_fit();
    state.photoRoot.clear();
    state.photoRoot.shrink_to_fit();
}

void quitStation()
{
    host().endProcess(0);
}

void programStart(int argc, char **argv)
{
    auto *application = new QApplication(argc, argv); // lives until the process ends
    initialiseHost();
    initWebAccess(); // before any thread
    loadDisplayColourProfile();
    station() = StationState{};
    host().setExitCleanUp(cleanUpAtExit);
    createMainWindow();
    startStation(); // the main window's creation event
    int code = application->exec();
    host().endProcess(code);
}
