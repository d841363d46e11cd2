#pragma once
// The frame shared by the station's two small modal windows (login and password change): a
// fixed outer size, a title bar with close and minimise boxes only, centred, a taskbar button;
// Esc closes it as the close box does. Each showing builds the window afresh and destroys it
// when it closes.

#include <QRect>
#include <string>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
enum class StationWindow;

// A window of `outerSize` including the window manager's frame, registered with the host as
// `window` until it is destroyed. Controls are placed in client coordinates.
QDialog *createStationDialog(StationWindow window, const char *title, QSize outerSize);
// Shows the window modally; returns once it has been destroyed.
void runStationDialog(QDialog *dialog);
// Closes the registered window (destroying it once its modal run ends).
void closeStationDialog(StationWindow window);

// Controls named as the station addresses them; `parent` is the window or a group box.
QWidget *addGroupBox(QWidget *parent, const char *name, QRect rect);
QLabel *addLabel(QWidget *parent, const char *name, QRect rect, const char *text);
// A single-line box that shows every typed character as "*", with no length limit of its own.
QLineEdit *addPasswordBox(QWidget *parent, const char *name, QRect rect);
QPushButton *addButton(QWidget *parent, const char *name, QRect rect, const char *text);

// The typed text of a password box as password bytes: code page 936, as the studios' existing
// dat.ini files hold them, ending at the first zero byte as a typed text always has.
std::string typedPassword(StationWindow window, const char *name);
