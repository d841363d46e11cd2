// The two small windows under a real window manager: the sizes given are outer sizes, so the
// client area shrinks by the frame the window manager reports, and the window stays centred.
#include "access_window_fixture.h"
#include "ui/login_window.h"
#include "ui/password_window.h"

#include <QScreen>

namespace
{

class FramedWindow : public AccessWindowTest
{
};

} // namespace

TEST_F(FramedWindow, OuterSizeIncludesTheWindowManagersFrame)
{
    struct Case {
        StationWindow window;
        void (*showIt)();
        QSize outer;
    } cases[] = {
        {StationWindow::login, showLoginWindow, {287, 208}},
        {StationWindow::passwordChange, showPasswordChangeWindow, {280, 172}},
    };
    for (const Case &c : cases) {
        bool ran = false;
        whenShown(c.window, [&](QDialog *dialog) {
            ran = true;
            // The frame is reported some time after the window is mapped.
            EXPECT_TRUE(
                waitUntil([dialog] { return dialog->frameGeometry() != dialog->geometry(); }));
            EXPECT_TRUE(waitUntil([&] { return dialog->frameGeometry().size() == c.outer; }))
                << dialog->frameGeometry().width() << "x" << dialog->frameGeometry().height();
            EXPECT_LT(dialog->width(), c.outer.width());
            EXPECT_LT(dialog->height(), c.outer.height());
            QRect screen = dialog->screen()->availableGeometry();
            EXPECT_TRUE(waitUntil([&] {
                QPoint offCentre = dialog->frameGeometry().center() - screen.center();
                return offCentre.manhattanLength() <= 2;
            }));
            press(Qt::Key_Escape);
        });
        c.showIt();
        EXPECT_TRUE(ran);
    }
}
