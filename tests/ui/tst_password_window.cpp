// The password-change window with real widgets: the old password's check, the store, the ways out.
#include "access/password_cipher.h"
#include "access_window_fixture.h"
#include "fault_mounts.h"
#include "ui/login_window.h"
#include "ui/password_window.h"

#include <QGroupBox>
#include <QPushButton>
#include <QStyle>
#include <sys/stat.h>

namespace
{

const StationWindow change = StationWindow::passwordChange;

class PasswordWindow : public AccessWindowTest
{
  protected:
    void show(std::function<void(QDialog *)> action)
    {
        showAndRun(change, showPasswordChangeWindow, action);
    }
    // Types both passwords and presses Enter, as the user does.
    void changePassword(const std::string &oldPassword, const std::string &newPassword)
    {
        show([&](QDialog *) {
            type(change, "编辑框2", oldPassword);
            type(change, "编辑框1", newPassword);
            press(Qt::Key_Return);
        });
    }
    // Whether the login window lets `password` in now.
    bool logsIn(const std::string &password)
    {
        tree.makeFolder("张三");
        station().loggedIn = 0;
        whenShown(StationWindow::login, [&](QDialog *) {
            type(StationWindow::login, "编辑框1", password);
            press(Qt::Key_Return);
        });
        showLoginWindow();
        return station().loggedIn == 1;
    }
};

} // namespace

TEST_F(PasswordWindow, ControlsAsDesigned)
{
    show([&](QDialog *dialog) {
        EXPECT_EQ(dialog->windowTitle(), "密码修改");
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(dialog->frameGeometry().size(), QSize(280, 172));
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
        struct Control {
            const char *name;
            QRect rect;
            const char *text;
        } table[] = {
            {"标签1", {31, 16, 64, 24}, "旧密码："}, {"编辑框2", {80, 16, 144, 20}, ""},
            {"标签2", {31, 54, 64, 24}, "新密码："}, {"编辑框1", {80, 54, 144, 20}, ""},
            {"登入按钮", {51, 85, 64, 26}, "确定"},  {"退出按钮", {151, 85, 64, 26}, "取消"},
        };
        auto *frame = control<QGroupBox>(change, "分组框1");
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->geometry(), QRect(8, 8, 256, 120));
        EXPECT_TRUE(frame->title().isEmpty());
        for (const Control &c : table) {
            QWidget *w = host().control(change, c.name);
            ASSERT_NE(w, nullptr) << c.name;
            EXPECT_EQ(w->parentWidget(), frame) << c.name;
            EXPECT_EQ(w->geometry(), c.rect) << c.name;
            EXPECT_EQ(text(change, c.name), c.text) << c.name;
        }
        for (const char *name : {"编辑框1", "编辑框2"}) {
            auto *box = control<QLineEdit>(change, name);
            EXPECT_EQ(box->echoMode(), QLineEdit::Password);
            EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box),
                      '*');
        }
        EXPECT_EQ(QApplication::focusWidget(), host().control(change, "编辑框2"));
        for (const char *name : {"编辑框1", "登入按钮", "退出按钮", "编辑框2"}) {
            press(Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), host().control(change, name)) << name;
        }
    });
}

TEST_F(PasswordWindow, WithoutAPasswordFileTheEmptyOldPasswordCreatesIt)
{
    changePassword("", "7");
    EXPECT_EQ(messages, std::vector<std::string>{"密码修改成功"});
    EXPECT_EQ(passwordFileBytes(), encipher("7", stationKey));
    EXPECT_EQ(passwordFileBytes().size(), 3u);
    EXPECT_FALSE(logsIn(""));
    EXPECT_TRUE(logsIn("7"));
}

TEST_F(PasswordWindow, TheRightOldPasswordReplacesItAndTheEmptyOneEmptiesTheFile)
{
    writePasswordFile(encipher("old", stationKey));
    changePassword("old", "密码"); // stored as its code page 936 bytes, as on Windows
    EXPECT_EQ(passwordFileBytes(), "26,36,16,1A,");
    changePassword("密码", "");
    EXPECT_EQ(passwordFileBytes(), "");
    EXPECT_EQ(messages, (std::vector<std::string>{"密码修改成功", "密码修改成功"}));
    EXPECT_TRUE(logsIn(""));
}

TEST_F(PasswordWindow, AWrongOldPasswordChangesNothing)
{
    std::string before = encipher("Old", stationKey);
    writePasswordFile(before);
    show([&](QDialog *dialog) {
        for (const char *wrong : {"old", "", "Old "}) {
            messages.clear();
            type(change, "编辑框2", wrong);
            type(change, "编辑框1", "new");
            press(Qt::Key_Return);
            EXPECT_EQ(messages, std::vector<std::string>{"旧密码错误请重新输入"}) << wrong;
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_EQ(text(change, "编辑框2"), wrong);
            EXPECT_EQ(text(change, "编辑框1"), "new");
        }
    });
    EXPECT_EQ(passwordFileBytes(), before);
}

TEST_F(PasswordWindow, AFailedStoreIsReportedAndKeepsTheWindowAndTheOldPassword)
{
    std::string before = encipher("old", stationKey);
    writePasswordFile(before);
    ReadOnlyFolder readOnly(passwordFolder); // a real read-only mount: dat.ini reads, no write
    ASSERT_TRUE(readOnly.active());
    show([&](QDialog *dialog) {
        type(change, "编辑框2", "old");
        type(change, "编辑框1", "new");
        press(Qt::Key_Return);
        EXPECT_EQ(messages, std::vector<std::string>{passwordNotStoredMessage});
        EXPECT_TRUE(dialog->isVisible());
    });
    EXPECT_EQ(passwordFileBytes(), before);
}

TEST_F(PasswordWindow, AnUnreadablePasswordFileCannotBeReplaced)
{
    ::mkdir(passwordPath.c_str(), 0755); // exists, but is no file that can be read
    show([&](QDialog *dialog) {
        type(change, "编辑框2", "");
        type(change, "编辑框1", "mine");
        press(Qt::Key_Return);
        EXPECT_EQ(messages, std::vector<std::string>{passwordFileUnreadableMessage});
        EXPECT_TRUE(dialog->isVisible());
    });
    struct stat s {
    };
    ASSERT_EQ(::stat(passwordPath.c_str(), &s), 0);
    EXPECT_TRUE(S_ISDIR(s.st_mode));
}

TEST_F(PasswordWindow, CancelEscAndTheCloseBoxChangeNothing)
{
    std::function<void(QDialog *)> ways[] = {
        [](QDialog *) { control<QPushButton>(change, "退出按钮")->click(); },
        [](QDialog *) { press(Qt::Key_Escape); },
        [](QDialog *dialog) { dialog->close(); },
    };
    for (auto &way : ways) {
        bool closedByTheWay = false;
        show([&](QDialog *dialog) {
            type(change, "编辑框1", "new");
            way(dialog);
            closedByTheWay = !dialog->isVisible();
        });
        EXPECT_TRUE(closedByTheWay);
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(host().exists(passwordPath));
}
