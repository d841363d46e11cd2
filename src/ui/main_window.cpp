#include "ui/main_window.h"

#include "host/host_services.h"

#include <QWidget>

QWidget *createMainWindow()
{
    auto *window = new QWidget;
    host().registerWindow(StationWindow::main, window);
    return window;
}

void showMainWindowFullScreen()
{
    host().window(StationWindow::main)->showFullScreen();
}

void layoutMainWindow() {}
void pageByClick(int, int, int) {}
void openStationMenu(int, int, int) {}
