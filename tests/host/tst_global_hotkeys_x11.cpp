// Global keys on a real X server: real key events from xdotool (through the X test extension, so
// they pass the grabs as a keyboard's would), a window manager deciding the active window, and a
// second X client standing for another program.
#include "host/host_services.h"
#include "host/station_widgets.h"
#include "wait.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdio>
#include <cstdlib>

namespace
{

void pressKeys(const QStringList &keys)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), QStringList{"key"} + keys), 0);
}

bool activate(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return waitUntil([window] { return QApplication::activeWindow() == window; });
}

// Another program on the same desktop: its own X connection.
class OtherXClient
{
  public:
    OtherXClient() : connection_(xcb_connect(nullptr, nullptr))
    {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    }
    ~OtherXClient() { xcb_disconnect(connection_); }

    // Takes the key as a global key of its own; false when refused.
    bool grabKey(xcb_keysym_t keysym, uint16_t modifiers = 0)
    {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(connection_);
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        bool grabbed = codes && codes[0] != XCB_NO_SYMBOL;
        if (grabbed) {
            xcb_generic_error_t *error = xcb_request_check(
                connection_, xcb_grab_key_checked(connection_, 0, root_, modifiers, codes[0],
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
            grabbed = error == nullptr;
            std::free(error);
        }
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return grabbed;
    }

    // A plain window of its own, mapped, that wants key presses; returns its id.
    uint32_t showWindow()
    {
        xcb_window_t window = xcb_generate_id(connection_);
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS};
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 50, 50, 200, 150, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        // WM_HINTS with the input flag: the window manager may give it the keyboard.
        uint32_t hints[9] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                            XCB_ATOM_WM_HINTS, 32, 9, hints);
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
        return window;
    }

    // Waits until a key press reaches this client (it arrives after every earlier key).
    bool waitForKeyPress()
    {
        return waitUntil([this] {
            bool pressed = false;
            while (xcb_generic_event_t *event = xcb_poll_for_event(connection_)) {
                pressed = pressed || (event->response_type & ~0x80) == XCB_KEY_PRESS;
                std::free(event);
            }
            return pressed;
        });
    }

  private:
    xcb_connection_t *connection_;
    xcb_window_t root_ = 0;
};

// A stand-in for the station's main window: the receiving label 标签1, a folder list and a text
// box, with every feedback event recorded.
struct OwnerWindow {
    QWidget window;
    FeedbackLabel *label = new FeedbackLabel(&window);
    QComboBox *combo = new QComboBox(&window);
    QLineEdit *edit = new QLineEdit(&window);
    std::vector<int> feedback;

    OwnerWindow()
    {
        window.setObjectName(QStringLiteral("owner"));
        label->setObjectName(QStringLiteral("标签1"));
        combo->addItems(
            {QStringLiteral("张三"), QStringLiteral("张三/入库"), QStringLiteral("张三/精修")});
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(label);
        layout->addWidget(combo);
        layout->addWidget(edit);
        window.resize(400, 300);
        QObject::connect(label, &FeedbackLabel::feedback, [this](int identifier, int extra) {
            EXPECT_EQ(extra, 0);
            feedback.push_back(identifier);
        });
        host().registerWindow(StationWindow::main, &window);
    }
};

constexpr int enterKey = 13, deleteKey = 46, leftKey = 37, rightKey = 39;

// Run in a fresh process: the identifiers count every registration of the process.
int registerWhileAnotherClientHoldsDelete()
{
    OtherXClient other;
    if (!other.grabKey(XK_Delete))
        return 10;
    OwnerWindow owner;
    if (!activate(&owner.window))
        return 11;
    int ids[4];
    int keys[4] = {enterKey, deleteKey, leftKey, rightKey};
    for (int slot = 0; slot < 4; ++slot)
        ids[slot] = host().registerHotkey(StationWindow::main, "标签1", 0, keys[slot]);
    if (ids[0] != 33001 || ids[1] != 0 || ids[2] != 33003 || ids[3] != 33004) {
        std::fprintf(stderr, "identifiers %d %d %d %d\n", ids[0], ids[1], ids[2], ids[3]);
        return 12;
    }
    // The refused key left no grab of ours behind under a lock modifier (Mod2 is NumLock).
    if (!other.grabKey(XK_Delete, XCB_MOD_MASK_2) || !other.grabKey(XK_Delete, XCB_MOD_MASK_LOCK))
        return 17;
    // Delete stays with the other client; Right, pressed after it, is ours.
    if (QProcess::execute(QStringLiteral("xdotool"), {"key", "Delete", "Right"}) != 0)
        return 13;
    if (!other.waitForKeyPress())
        return 14;
    if (!waitUntil([&] { return !owner.feedback.empty(); }))
        return 15;
    if (owner.feedback != std::vector<int>{33004}) {
        std::fprintf(stderr, "feedback count %zu\n", owner.feedback.size());
        return 16;
    }
    return 0;
}

} // namespace

// Death-test suites run first, while this process itself has grabbed nothing yet.
TEST(GlobalHotkeysDeathTest, KeyHeldByAnotherProgramIsRefusedAndCounted)
{
    EXPECT_EXIT(
        {
            int code = registerWhileAnotherClientHoldsDelete();
            std::fflush(stderr);
            std::_Exit(code);
        },
        ::testing::ExitedWithCode(0), "");
}

class GlobalHotkeys : public ::testing::Test
{
  protected:
    static OwnerWindow *owner;
    static int ids[4];

    static void SetUpTestSuite()
    {
        owner = new OwnerWindow;
        int keys[4] = {enterKey, deleteKey, leftKey, rightKey};
        for (int slot = 0; slot < 4; ++slot)
            ids[slot] = host().registerHotkey(StationWindow::main, "标签1", 0, keys[slot]);
    }

    void SetUp() override
    {
        ASSERT_TRUE(activate(&owner->window));
        owner->feedback.clear();
    }

    // Presses `key` and waits for the feedback it raises.
    std::vector<int> feedbackOf(const QStringList &keys)
    {
        size_t before = owner->feedback.size();
        pressKeys(keys);
        waitUntil([&] { return owner->feedback.size() > before; });
        return {owner->feedback.begin() + static_cast<long>(before), owner->feedback.end()};
    }
};
OwnerWindow *GlobalHotkeys::owner = nullptr;
int GlobalHotkeys::ids[4];

TEST_F(GlobalHotkeys, IdentifiersCountFromTheProcessStart)
{
    EXPECT_EQ(ids[0], 33001);
    EXPECT_EQ(ids[1], 33002);
    EXPECT_EQ(ids[2], 33003);
    EXPECT_EQ(ids[3], 33004);
    // One key, one registration: a second would run two commands on one press.
    EXPECT_EQ(host().registerHotkey(StationWindow::main, "标签1", 0, rightKey), 0);
    EXPECT_EQ(host().registerHotkey(StationWindow::main, "标签1", 0, 65), 0); // not a command key
}

TEST_F(GlobalHotkeys, EveryKeyRaisesItsIdentifierWhateverLockIsOn)
{
    struct Case {
        const char *lock; // toggled on before the key and off after it
        const char *key;
        int slot;
    };
    const Case cases[] = {
        {nullptr, "Return", 0},      {nullptr, "Delete", 1},     {nullptr, "Left", 2},
        {nullptr, "Right", 3},       {nullptr, "KP_Enter", 0},   {nullptr, "KP_Delete", 1},
        {nullptr, "KP_Left", 2},     {nullptr, "KP_Right", 3},   {"Num_Lock", "Return", 0},
        {"Num_Lock", "Delete", 1},   {"Num_Lock", "Left", 2},    {"Num_Lock", "Right", 3},
        {"Num_Lock", "KP_Enter", 0}, {"Caps_Lock", "Return", 0}, {"Caps_Lock", "Right", 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.lock ? c.lock : "no lock") + " + " + c.key);
        if (c.lock)
            pressKeys({c.lock});
        EXPECT_EQ(feedbackOf({c.key}), std::vector<int>{ids[c.slot]});
        if (c.lock)
            pressKeys({c.lock});
    }
}

TEST_F(GlobalHotkeys, KeysNotTakenReachTheFocusedControl)
{
    // With NumLock on the keypad's arrow types a digit; Shift+Right selects in a text box.
    owner->edit->setText(QStringLiteral("ab"));
    owner->edit->setFocus();
    owner->edit->setCursorPosition(0);
    pressKeys({"Num_Lock"});
    pressKeys({"KP_Left"});
    pressKeys({"Num_Lock"});
    EXPECT_TRUE(waitUntil([&] { return owner->edit->text() == QStringLiteral("4ab"); }))
        << owner->edit->text().toStdString();
    pressKeys({"shift+Right"});
    EXPECT_TRUE(waitUntil([&] { return owner->edit->selectedText() == QStringLiteral("a"); }));
    // Sync point: a taken key pressed after them has come through.
    EXPECT_EQ(feedbackOf({"Right"}), std::vector<int>{ids[3]});
    EXPECT_EQ(owner->feedback, std::vector<int>{ids[3]});
}

TEST_F(GlobalHotkeys, FocusedFolderListStillPages)
{
    owner->combo->setCurrentIndex(1);
    owner->combo->setFocus();
    ASSERT_TRUE(waitUntil([&] { return owner->combo->hasFocus(); }));
    EXPECT_EQ(feedbackOf({"Right"}), std::vector<int>{ids[3]});
    EXPECT_EQ(feedbackOf({"Left"}), std::vector<int>{ids[2]});
    EXPECT_EQ(owner->combo->currentIndex(), 1);
}

TEST_F(GlobalHotkeys, StationDialogGetsTheKeysAsTyped)
{
    QDialog dialog(&owner->window);
    auto *edit = new QLineEdit(QStringLiteral("abc"), &dialog);
    auto *button = new QPushButton(QStringLiteral("确定"), &dialog);
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(edit);
    layout->addWidget(button);
    dialog.setModal(true);
    dialog.show();
    ASSERT_TRUE(activate(&dialog));
    edit->setFocus();
    edit->setCursorPosition(3);

    pressKeys({"Left", "Left", "Delete"});
    EXPECT_TRUE(waitUntil([&] { return edit->text() == QStringLiteral("ac"); }))
        << edit->text().toStdString();
    pressKeys({"Return"});
    EXPECT_TRUE(waitUntil([&] { return dialog.result() == QDialog::Accepted; }));
    EXPECT_TRUE(owner->feedback.empty());
}

TEST_F(GlobalHotkeys, MessageBoxGetsEnter)
{
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        // Inside the message box's own loop.
        if (waitUntil([] {
                return QApplication::activeModalWidget() != nullptr &&
                       QApplication::activeWindow() == QApplication::activeModalWidget();
            })) {
            pressKeys({"Return"});
            pressed = true;
        }
    });
    host().showMessage("没有发现相片"); // returns once Enter has pressed OK
    EXPECT_TRUE(pressed);
    // The owner is active again: the next Right is its own and nothing came before it.
    ASSERT_TRUE(activate(&owner->window));
    EXPECT_EQ(feedbackOf({"Right"}), std::vector<int>{ids[3]});
    EXPECT_EQ(owner->feedback, std::vector<int>{ids[3]});
}

TEST_F(GlobalHotkeys, AnotherProgramActiveGetsNothingDone)
{
    OtherXClient other;
    uint32_t window = other.showWindow();
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                {"windowactivate", "--sync", QString::number(window)}),
              0);
    ASSERT_TRUE(waitUntil([] { return QApplication::activeWindow() == nullptr; }));
    // The grab still takes the keys; the station lets them pass without a command.
    pressKeys({"Delete", "Right", "a"});
    ASSERT_TRUE(other.waitForKeyPress()); // "a" is the other program's, after Delete and Right
    ASSERT_TRUE(activate(&owner->window));
    EXPECT_EQ(feedbackOf({"Left"}), std::vector<int>{ids[2]});
    EXPECT_EQ(owner->feedback, std::vector<int>{ids[2]});
}
