// The start-up sequence and its exits, and the switch to another customer.
#include "app/program_start.h"
#include "app/settings.h"
#include "app/startup.h"
#include "catalogue/selection_commands.h"
#include "station_fixture.h"
#include "wait.h"
#include "web/fetch_url.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace
{

void writeSettings(const std::string &text)
{
    std::ofstream(settingsPath(), std::ios::binary | std::ios::trunc) << text;
}

// A statistics counter on 127.0.0.1 that reports each hit on stderr, served from the GUI
// thread's event loop (the start-up waits for the hit while dispatching events).
struct Counter {
    QTcpServer server;
    Counter()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            QTcpSocket *socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [socket] {
                if (!socket->readAll().startsWith("GET "))
                    return;
                std::fprintf(stderr, "hit\n");
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
                socket->disconnectFromHost();
            });
        });
    }
    std::string url() const
    {
        return "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/count?Selvana";
    }
};

// Messages go to stderr, in order, instead of a modal box; the clean-up reports itself.
void recordMessagesAndCleanUp()
{
    host().setMessageHandler(
        [](const std::string &text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
    host().setExitCleanUp([] {
        static int runs = 0;
        cleanUpAtExit();
        const auto &ids = station().hotkeyIds;
        std::fprintf(stderr, "clean-up %d, hot keys %d %d %d %d\n", ++runs, ids[0], ids[1], ids[2],
                     ids[3]);
    });
}

// Acts on the login window as soon as it is open.
void whenLoginWindowOpens(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        if (QWidget *login = host().window(StationWindow::login); login && login->isVisible()) {
            poll->stop();
            poll->deleteLater();
            action(login);
        }
    });
    poll->start(20);
}

void logIn(QWidget *login, const std::string &customer)
{
    auto *list = login->findChild<QComboBox *>("组合框2");
    for (int i = 0; list && i < list->count(); ++i)
        if (list->itemData(i).toByteArray().toStdString() == customer)
            list->setCurrentIndex(i);
    login->findChild<QLineEdit *>("编辑框1")->setText("");
    login->findChild<QPushButton *>("登入按钮")->click();
}

class Startup : public StationTest
{
  protected:
    std::string shellLog;
    void SetUp() override
    {
        StationTest::SetUp();
        ::unlink((host().runDirectory() + "/dat.ini").c_str()); // the empty password
        // The desktop's "open" is a stub that notes what it was given.
        tree.makeFolder("bin");
        // Outside the tree: a death test's child makes a tree of its own.
        shellLog = host().runDirectory() + "/shell-opened.log";
        ::unlink(shellLog.c_str());
        tree.writeFile("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + shellLog + "\n");
        ::chmod(tree.path("bin/xdg-open").c_str(), 0755);
        std::string path = tree.path("bin") + ":" + std::getenv("PATH");
        ::setenv("PATH", path.c_str(), 1);
    }
    void TearDown() override
    {
        ::unlink(settingsPath().c_str());
        ::unlink(shellLog.c_str());
        StationTest::TearDown();
    }
    void makeTwoCustomers()
    {
        for (const char *folder : {"张三/入库", "张三/精修", "李四"})
            tree.makeFolder(folder);
        tree.writePhoto("张三/a.jpg");
        tree.writePhoto("张三/b.jpg");
        tree.writePhoto("张三/精修/a.jpg");
        tree.writePhoto("张三/入库/a.jpg");
        tree.writePhoto("李四/c.jpg");
    }
};

} // namespace

TEST_F(Startup, MissingPhotoRootSendsTheHitShowsTheMessageOpensTheSettingsAndEnds)
{
    const char *variants[] = {"[设置]\n其他=1\n", "[设置]\n图片目录=\n"};
    for (const char *variant : variants) {
        EXPECT_EXIT(
            {
                Counter counter;
                writeSettings(variant + std::string("统计地址=") + counter.url() + "\n");
                recordMessagesAndCleanUp();
                startStation();
            },
            ::testing::ExitedWithCode(0),
            "hit\nmessage: 请先设置相片目录\nclean-up 1, hot keys 0 0 0 0\n$")
            << variant;
        EXPECT_TRUE(waitUntil([&] { return ::access(shellLog.c_str(), F_OK) == 0; }));
        EXPECT_EQ(host().readWholeFile(shellLog), settingsPath());
        ::unlink(shellLog.c_str());
    }
}

TEST_F(Startup, MissingSettingsFileEndsTheSameWay)
{
    EXPECT_EXIT(
        {
            Counter counter;
            setDefaultCounterUrlForTests(counter.url());
            ::unlink(settingsPath().c_str());
            recordMessagesAndCleanUp();
            startStation();
        },
        ::testing::ExitedWithCode(0),
        "hit\nmessage: 请先设置相片目录\nclean-up 1, hot keys 0 0 0 0\n$");
    EXPECT_TRUE(waitUntil([&] { return ::access(shellLog.c_str(), F_OK) == 0; }));
    EXPECT_EQ(host().readWholeFile(shellLog), settingsPath());
}

TEST_F(Startup, LoginAbandonedEndsWithoutHotKeys)
{
    makeTwoCustomers();
    EXPECT_EXIT(
        {
            Counter counter;
            writeSettings("[设置]\n图片目录=" + tree.root() + "\n统计地址=" + counter.url() + "\n");
            recordMessagesAndCleanUp();
            whenLoginWindowOpens([](QWidget *login) { login->close(); });
            startStation();
        },
        ::testing::ExitedWithCode(0), "hit\n(.*\n)*clean-up 1, hot keys 0 0 0 0\n$");
}

TEST_F(Startup, LoginAcceptedFillsTheStation)
{
    makeTwoCustomers();
    Counter counter;
    std::string root = tree.root();
    root.pop_back(); // the setting may lack the trailing "/"
    writeSettings("[设置]\n图片目录=" + root + "\n统计地址=" + counter.url() + "\n");
    whenLoginWindowOpens([](QWidget *login) { logIn(login, "张三"); });

    startStation();

    EXPECT_EQ(station().photoRoot, tree.root());
    EXPECT_EQ(station().customer, "张三");
    EXPECT_EQ(station().loggedIn, 1);
    EXPECT_EQ(text("组合框2"), "张三");
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框2"), 3);
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框1"), 2);
    EXPECT_EQ(station().photoList, tree.photosIn("张三"));
    EXPECT_EQ(station().currentIndex, 1);
    EXPECT_EQ(text("标签1"), "共2张");
    EXPECT_EQ(text("标签2"), "已选1张");
    // The marker is recomputed once the project list is filled: a.jpg is in both projects.
    EXPECT_EQ(text("透明标签1"), shownName() == "a.jpg" ? "已选" : "");
    EXPECT_EQ(station().hotkeyIds, (std::array<int32_t, 4>{33001, 33002, 33003, 33004}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Startup, ChangeCustomerSwitchesWholeOrNotAtAll)
{
    makeTwoCustomers();
    station().loggedIn = 1;
    fillSourceList();

    whenLoginWindowOpens([](QWidget *login) { login->close(); });
    changeCustomer();
    EXPECT_EQ(station().customer, "张三");
    EXPECT_EQ(station().loggedIn, 1);
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框2"), 3);

    whenLoginWindowOpens([](QWidget *login) { logIn(login, "李四"); });
    changeCustomer();
    EXPECT_EQ(station().customer, "李四");
    EXPECT_EQ(station().loggedIn, 1);
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框2"), 1);
    EXPECT_EQ(text("组合框2"), "李四");
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框1"), 0);
    EXPECT_EQ(station().photoList, std::vector<std::string>{"c.jpg"});
    EXPECT_EQ(text("标签1"), "共1张");

    // The originals rule now follows the customer whose folders are shown.
    deleteCurrent();
    EXPECT_EQ(messages.back(), "原相片禁止删除");
    EXPECT_TRUE(tree.exists("李四/c.jpg"));
}
