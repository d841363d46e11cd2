// The login window with real widgets: choosing the customer, the password check, the ways out.
#include "access/password_cipher.h"
#include "access_window_fixture.h"
#include "ui/login_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <cstdio>
#include <sys/stat.h>

namespace
{

const StationWindow login = StationWindow::login;

class LoginWindow : public AccessWindowTest
{
  protected:
    void show(std::function<void(QDialog *)> action) { showAndRun(login, showLoginWindow, action); }
};

} // namespace

TEST_F(LoginWindow, ControlsAsDesigned)
{
    tree.makeFolder("张三");
    show([&](QDialog *dialog) {
        EXPECT_EQ(dialog->windowTitle(), "密码登入");
        EXPECT_TRUE(dialog->isModal());
        // The outer size includes the frame the platform reports.
        EXPECT_EQ(dialog->frameGeometry().size(), QSize(287, 208));
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        Qt::WindowFlags flags = dialog->windowFlags();
        EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(dialog->windowType(), Qt::Window) << "a window of its own, with a taskbar button";
        QRect screen = dialog->screen()->availableGeometry();
        QPoint offCentre = dialog->frameGeometry().center() - screen.center();
        EXPECT_LE(offCentre.manhattanLength(), 2);

        struct Control {
            const char *name;
            const char *parent;
            QRect rect;
            const char *text;
        } table[] = {
            {"图片框1", "", {0, 0, 280, 48}, ""},
            {"分组框1", "", {12, 48, 256, 120}, ""},
            {"标签4", "分组框1", {24, 20, 48, 24}, "客  户："},
            {"组合框2", "分组框1", {80, 22, 144, 20}, "张三"},
            {"标签2", "分组框1", {16, 51, 64, 24}, "登入密码："},
            {"编辑框1", "分组框1", {80, 51, 144, 20}, ""},
            {"登入按钮", "分组框1", {44, 80, 64, 26}, "登入"},
            {"退出按钮", "分组框1", {144, 80, 64, 26}, "退出"},
        };
        for (const Control &c : table) {
            QWidget *w = host().control(login, c.name);
            ASSERT_NE(w, nullptr) << c.name;
            EXPECT_EQ(w->parentWidget()->objectName().toStdString(),
                      *c.parent ? c.parent : dialog->objectName().toStdString())
                << c.name;
            EXPECT_EQ(w->geometry(), c.rect) << c.name;
            EXPECT_EQ(text(login, c.name), c.text) << c.name;
        }
        EXPECT_TRUE(control<QGroupBox>(login, "分组框1")->title().isEmpty());
        EXPECT_FALSE(control<QComboBox>(login, "组合框2")->isEditable());
        EXPECT_EQ(control<QLabel>(login, "图片框1")->pixmap().size(), QSize(280, 48));

        auto *box = control<QLineEdit>(login, "编辑框1");
        EXPECT_EQ(box->echoMode(), QLineEdit::Password);
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box),
                  '*');
        EXPECT_GT(box->maxLength(), 100000);

        // The focus starts in the password box; Tab goes top to bottom and round again.
        EXPECT_EQ(QApplication::focusWidget(), box);
        const char *order[] = {"登入按钮", "退出按钮", "组合框2", "编辑框1"};
        for (const char *name : order) {
            press(Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), host().control(login, name)) << name;
        }
    });
}

TEST_F(LoginWindow, OneCustomerIsChosenAtOnceAndEnterLogsInWithAChinesePassword)
{
    tree.makeFolder("张三");
    writePasswordFile("26,36,16,1A,"); // 密码, as a Windows station writes it
    show([&](QDialog *) {
        EXPECT_EQ(host().controlIndex(login, "组合框2"), 0);
        type(login, "编辑框1", "密码");
        press(Qt::Key_Return);
    });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(station().customer, "张三");
    EXPECT_EQ(station().loggedIn, 1);
}

TEST_F(LoginWindow, CustomersAppearAsListedAndTheChosenOneIsStored)
{
    for (const char *folder : {"李四", "张三", ".隐藏", "王五"})
        tree.makeFolder(folder);
    tree.writeFile("文件", "not a folder");
    std::string root = tree.root();
    station().photoRoot = root.substr(0, root.size() - 1); // as cif.ini may give it
    std::vector<std::string> expected;
    for (const std::string &name : tree.foldersIn(""))
        if (name[0] != '.')
            expected.push_back(name);
    ASSERT_EQ(expected.size(), 3u);

    show([&](QDialog *) {
        auto *list = control<QComboBox>(login, "组合框2");
        ASSERT_EQ(list->count(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(list->itemData(i).toByteArray().toStdString(), expected[size_t(i)]);
        EXPECT_EQ(list->currentIndex(), 0);
        list->setCurrentIndex(2);
        control<QPushButton>(login, "登入按钮")->click(); // no dat.ini: the empty password
    });
    EXPECT_EQ(station().photoRoot, root);
    EXPECT_EQ(station().customer, expected[2]);
    EXPECT_EQ(station().loggedIn, 1);
}

TEST_F(LoginWindow, AWrongPasswordKeepsTheWindowOpenWithWhatWasTyped)
{
    tree.makeFolder("张三");
    writePasswordFile(encipher("Secret", stationKey));
    station().customer = "李四";
    show([&](QDialog *dialog) {
        for (const char *wrong : {"secret", "SECRET", "Secre", "Secret ", ""}) {
            messages.clear();
            type(login, "编辑框1", wrong);
            press(Qt::Key_Return);
            EXPECT_EQ(messages, std::vector<std::string>{"密码错误请重新输入"}) << wrong;
            EXPECT_TRUE(dialog->isVisible()) << wrong;
            EXPECT_EQ(text(login, "编辑框1"), wrong);
            EXPECT_EQ(station().customer, "李四");
            EXPECT_EQ(station().loggedIn, 0);
        }
        messages.clear();
        type(login, "编辑框1", "Secret"); // no limit on attempts
        press(Qt::Key_Return);
    });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(station().customer, "张三");
    EXPECT_EQ(station().loggedIn, 1);
}

TEST_F(LoginWindow, NoCustomerToChooseIsRefusedBeforeThePasswordIsRead)
{
    // An unreadable dat.ini would give a message of its own: it must not even be read.
    ::mkdir(passwordPath.c_str(), 0755);
    show([&](QDialog *dialog) {
        EXPECT_EQ(host().controlIndex(login, "组合框2"), -1);
        control<QPushButton>(login, "登入按钮")->click();
        EXPECT_EQ(messages, std::vector<std::string>{"选择客户再登陆"});
        EXPECT_TRUE(dialog->isVisible());
    });
    EXPECT_EQ(station().loggedIn, 0);
}

TEST_F(LoginWindow, AnUnreadablePasswordFileLetsNobodyIn)
{
    tree.makeFolder("张三");
    ::mkdir(passwordPath.c_str(), 0755); // exists, but is no file that can be read
    show([&](QDialog *dialog) {
        for (const char *typed : {"", "x"}) {
            messages.clear();
            type(login, "编辑框1", typed);
            press(Qt::Key_Return);
            EXPECT_EQ(messages, std::vector<std::string>{passwordFileUnreadableMessage});
            EXPECT_TRUE(dialog->isVisible());
        }
    });
    EXPECT_EQ(station().loggedIn, 0);
    EXPECT_EQ(station().customer, "");
}

TEST_F(LoginWindow, EscAndTheCloseBoxCloseWithoutLoggingIn)
{
    tree.makeFolder("张三");
    std::function<void(QDialog *)> ways[] = {
        [](QDialog *) { press(Qt::Key_Escape); },
        [](QDialog *dialog) { dialog->close(); }, // what the close box sends
    };
    for (auto &way : ways) {
        bool closedByTheWay = false;
        show([&](QDialog *dialog) {
            type(login, "编辑框1", "x");
            way(dialog);
            closedByTheWay = !dialog->isVisible();
        });
        EXPECT_TRUE(closedByTheWay);
        EXPECT_EQ(station().loggedIn, 0);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(LoginWindow, EveryShowingStartsAfresh)
{
    tree.makeFolder("张三");
    show([&](QDialog *) { type(login, "编辑框1", "typed"); });
    tree.makeFolder("李四");
    show([&](QDialog *) {
        EXPECT_EQ(text(login, "编辑框1"), "");
        EXPECT_EQ(host().listItemCount(login, "组合框2"), 2);
    });
}

TEST_F(LoginWindow, TheExitButtonEndsTheProcessWithCodeZeroThroughTheCleanUp)
{
    tree.makeFolder("张三");
    EXPECT_EXIT(
        {
            host().setExitCleanUp([] { std::fprintf(stderr, "clean-up ran\n"); });
            whenShown(login, [](QDialog *) { control<QPushButton>(login, "退出按钮")->click(); });
            showLoginWindow();
            std::fprintf(stderr, "the window returned\n");
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "clean-up ran");
}
