#pragma once
// The station's full-screen browsing window: the blue strip with the folder lists, counters and
// the two command buttons, and the canvas.

class QWidget;

// Creates the main window with all its controls in their designed state and registers it with
// the host as StationWindow::main. It is not shown.
QWidget *createMainWindow();
// Lays the window out at its design size, then shows it full-screen on the primary screen.
void showMainWindowFullScreen();
void layoutMainWindow();
void pageByClick(int x, int y, int keys);
void openStationMenu(int x, int y, int keys);
