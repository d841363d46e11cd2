#pragma once
// A station on a temporary photo tree: the real main window (not shown), the station state of
// a logged-in customer 张三, and the messages the station would have shown, recorded.

#include "app/station_state.h"
#include "host/host_services.h"
#include "photo_tree.h"
#include "ui/main_window.h"

#include <QComboBox>
#include <QWidget>
#include <gtest/gtest.h>

class StationTest : public ::testing::Test
{
  protected:
    PhotoTree tree;
    std::vector<std::string> messages;
    QWidget *window = nullptr;
    const std::string customer = "张三";

    void SetUp() override
    {
        station() = StationState{};
        window = createMainWindow();
        host().setMessageHandler([this](const std::string &text) { messages.push_back(text); });
        station().photoRoot = tree.root();
        station().customer = customer;
    }

    void TearDown() override
    {
        host().setMessageHandler(nullptr);
        host().unregisterWindow(StationWindow::main, window);
        delete window;
    }

    std::string text(const char *control) const
    {
        return host().controlText(StationWindow::main, control);
    }

    // Chooses a list item by its bytes as the user would (raising the item-chosen event).
    void choose(const char *control, const std::string &item) const
    {
        auto *combo = qobject_cast<QComboBox *>(host().control(StationWindow::main, control));
        ASSERT_NE(combo, nullptr);
        for (int i = 0; i < combo->count(); ++i) {
            QByteArray bytes = combo->itemData(i).toByteArray();
            if (std::string(bytes.constData(), static_cast<size_t>(bytes.size())) == item) {
                combo->setCurrentIndex(i);
                emit combo->activated(i);
                return;
            }
        }
        FAIL() << "no item " << item << " in " << control;
    }

    std::string shownName() const
    {
        const StationState &s = station();
        if (s.currentIndex < 1 || s.currentIndex > static_cast<int>(s.photoList.size()))
            return {};
        return s.photoList[static_cast<size_t>(s.currentIndex - 1)];
    }

    static std::string position(int index, int count)
    {
        return std::to_string(index) + "/" + std::to_string(count) + "         ";
    }
};
