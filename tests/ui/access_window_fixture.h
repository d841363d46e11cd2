#pragma once
// The login and password-change windows on real widgets: a temporary photo tree as the photo
// root, a temporary folder holding dat.ini, and the messages the station would have shown.

#include "access/password_file.h"
#include "app/station_state.h"
#include "host/host_services.h"
#include "photo_tree.h"
#include "wait.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

class AccessWindowTest : public ::testing::Test
{
  protected:
    PhotoTree tree;
    QTemporaryDir passwordDir;
    std::string passwordFolder;
    std::string passwordPath;
    std::vector<std::string> messages;

    void SetUp() override
    {
        station() = StationState{};
        station().photoRoot = tree.root();
        passwordFolder = passwordDir.path().toStdString();
        passwordPath = passwordFolder + "/dat.ini";
        setPasswordFolderForTests(passwordFolder);
        host().setMessageHandler([this](const std::string &text) { messages.push_back(text); });
    }

    void TearDown() override
    {
        host().setMessageHandler(nullptr);
        setPasswordFolderForTests("");
    }

    // Runs `action` on `window` once it is shown, from inside its modal run. A window the
    // action leaves open is then closed, so that a failed expectation never hangs the test.
    static void whenShown(StationWindow window, std::function<void(QDialog *)> action)
    {
        auto *poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [poll, window, action] {
            auto *dialog = qobject_cast<QDialog *>(host().window(window));
            if (!dialog || !dialog->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            QPointer<QDialog> guard(dialog);
            // The focus arrives with the window's activation.
            waitUntil([dialog] { return QApplication::activeWindow() == dialog; }, 2000);
            action(dialog);
            if (guard && guard->isVisible())
                guard->reject();
        });
        poll->start(10);
    }

    // Shows `window` with `showIt`, runs `action` in it, and expects it gone when `showIt`
    // returns.
    static void showAndRun(StationWindow window, void (*showIt)(),
                           std::function<void(QDialog *)> action)
    {
        bool ran = false;
        whenShown(window, [&](QDialog *dialog) {
            ran = true;
            action(dialog);
        });
        showIt();
        EXPECT_TRUE(ran);
        EXPECT_EQ(host().window(window), nullptr) << "the window is destroyed when it closes";
    }

    template <typename T> static T *control(StationWindow window, const char *name)
    {
        return qobject_cast<T *>(host().control(window, name));
    }

    static std::string text(StationWindow window, const char *name)
    {
        return host().controlText(window, name);
    }

    // Types into a box as the user does: the focus moves there and the keys arrive.
    static void type(StationWindow window, const char *box, const std::string &utf8)
    {
        QLineEdit *edit = control<QLineEdit>(window, box);
        ASSERT_NE(edit, nullptr) << box;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        // Key by key; a character beyond ASCII arrives as the text of a key press, as from a
        // keyboard layout that has it.
        for (QChar c : QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())))
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    // A key as the user presses it, to the widget that has the focus.
    static void press(Qt::Key key)
    {
        QWidget *target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, key);
    }

    void writePasswordFile(const std::string &bytes) const
    {
        std::ofstream(passwordPath, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::string passwordFileBytes() const
    {
        std::ifstream in(passwordPath, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
};
