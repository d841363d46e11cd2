// The command keys end to end on a real X server: a key pressed anywhere on the desktop pages,
// selects and deletes on the station's real main window, through the grab and 标签1's feedback.
#include "command_hotkeys_fixture.h"
#include "ui/command_hotkeys.h"
#include "wait.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>

namespace
{

void pressKeys(const QStringList &keys)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), QStringList{"key"} + keys), 0);
}

} // namespace

TEST_F(CommandHotkeys, WorkThroughTheGrabWithTheSourceListFocused)
{
    registerCommandHotkeys();
    EXPECT_EQ(station().hotkeyIds, (std::array<int32_t, 4>{33001, 33002, 33003, 33004}));

    window->resize(800, 600);
    QComboBox *sourceList = showWithSourceListFocused();
    ASSERT_NE(sourceList, nullptr);

    pressKeys({"Right"});
    EXPECT_TRUE(waitUntil([&] { return text("标签7") == position(2, 3); })) << text("标签7");
    pressKeys({"Num_Lock", "Left", "Num_Lock"});
    EXPECT_TRUE(waitUntil([&] { return text("标签7") == position(1, 3); })) << text("标签7");
    EXPECT_EQ(text("组合框2"), customer);

    pressKeys({"Delete"});
    EXPECT_TRUE(waitUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages, std::vector<std::string>{"原相片禁止删除"});
    pressKeys({"KP_Enter"});
    EXPECT_TRUE(waitUntil([&] { return tree.exists(customer + "/入库/" + first); }));
    EXPECT_FALSE(tree.exists(customer + "/" + first));
}
