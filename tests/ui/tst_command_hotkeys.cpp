// The four command keys on a real photo tree: which command each identifier runs, and the keys
// caught application-wide where no X11 display exists (this test runs on the offscreen platform).
#include "command_hotkeys_fixture.h"
#include "ui/command_hotkeys.h"
#include "wait.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWindow>

namespace
{

// Typed into the main window as the platform delivers keys: to the window, which passes the
// key to its focused widget unless something catches it first.
void typeInto(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(window->windowHandle(), &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(window->windowHandle(), &release);
}

} // namespace

struct SlotCase {
    int identifier;
    int index, count; // the position shown afterwards
    std::string message;
    bool firstStaysInOriginals;
};

class CommandSlot : public CommandHotkeys, public ::testing::WithParamInterface<SlotCase>
{
};

TEST_P(CommandSlot, RunsItsCommand)
{
    const SlotCase &c = GetParam();
    station().hotkeyIds = {33001, 33002, 33003, 33004};
    dispatchHotkey(c.identifier, 0);
    EXPECT_EQ(text("标签7"), position(c.index, c.count));
    EXPECT_EQ(messages,
              c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    EXPECT_EQ(tree.exists(customer + "/" + first), c.firstStaysInOriginals);
    EXPECT_EQ(tree.exists(customer + "/入库/" + first), !c.firstStaysInOriginals);
}

INSTANTIATE_TEST_SUITE_P(
    EnterDeleteLeftRight, CommandSlot,
    ::testing::Values(SlotCase{33001, 1, 2, "", false},              // selects: moved into 入库
                      SlotCase{33002, 1, 3, "原相片禁止删除", true}, // originals kept
                      SlotCase{33003, 3, 3, "", true},               // previous, wrapping
                      SlotCase{33004, 2, 3, "", true}));             // next

TEST_F(CommandHotkeys, RefusedSlotMatchesNoPress)
{
    // Delete was refused: its slot holds 0, which must not make identifier 0 a Delete press.
    station().hotkeyIds = {33001, 0, 33003, 33004};
    for (int identifier : {0, 33002, 12345})
        dispatchHotkey(identifier, 0);
    EXPECT_EQ(text("标签7"), position(1, 3));
    EXPECT_TRUE(messages.empty());
    dispatchHotkey(33004, 7); // extra is ignored
    EXPECT_EQ(text("标签7"), position(2, 3));
}

// Registers the keys, so it must be the only test of this program that does: the identifiers
// count every registration of the process, and a key is registered once.
TEST_F(CommandHotkeys, KeysAreCaughtBeforeTheFocusedListWithoutX11)
{
    registerCommandHotkeys();
    EXPECT_EQ(station().hotkeyIds, (std::array<int32_t, 4>{33001, 33002, 33003, 33004}));

    QComboBox *sourceList = showWithSourceListFocused();
    ASSERT_NE(sourceList, nullptr);

    typeInto(window, Qt::Key_Right);
    EXPECT_TRUE(waitUntil([&] { return text("标签7") == position(2, 3); })) << text("标签7");
    typeInto(window, Qt::Key_Left, Qt::KeypadModifier);
    EXPECT_TRUE(waitUntil([&] { return text("标签7") == position(1, 3); })) << text("标签7");
    EXPECT_EQ(text("组合框2"), customer);
    typeInto(window, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(waitUntil([&] { return tree.exists(customer + "/入库/" + first); }));
    // With Shift the key is not the command's.
    typeInto(window, Qt::Key_Right, Qt::ShiftModifier);
    host().processEvents();
    EXPECT_EQ(text("标签7"), position(1, 2));

    // A station dialog gets the keys as typed.
    QDialog dialog(window);
    auto *edit = new QLineEdit(QStringLiteral("abc"), &dialog);
    (new QVBoxLayout(&dialog))->addWidget(edit);
    dialog.setModal(true);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == &dialog; }));
    edit->setFocus();
    edit->setCursorPosition(3);
    typeInto(&dialog, Qt::Key_Left);
    typeInto(&dialog, Qt::Key_Delete);
    host().processEvents();
    EXPECT_EQ(edit->text(), QStringLiteral("ab"));
    EXPECT_EQ(text("标签7"), position(1, 2));
    EXPECT_TRUE(messages.empty());
}
