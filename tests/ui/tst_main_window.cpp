// The main window's controls, layout, clicks, menu and picture placement, with real widgets.
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "host/station_widgets.h"
#include "station_fixture.h"

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace
{

class MainWindow : public StationTest
{
  protected:
    PhotoCanvas *canvas() const
    {
        return qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
    }
    QRect geometryOf(const char *name) const
    {
        return host().control(StationWindow::main, name)->geometry();
    }
    // Three photos in the originals, the station logged in and on the first one.
    void startWithPhotos(QSize size = QSize(40, 30))
    {
        window->show();
        tree.makeFolder(customer + "/入库");
        for (int i = 1; i <= 3; ++i)
            tree.writePhoto(customer + "/p" + std::to_string(i) + ".jpg", size, Qt::red);
        fillSourceList();
        fillProjectList();
    }
};

} // namespace

TEST_F(MainWindow, ControlsAsDesignedInStackingOrder)
{
    struct Control {
        const char *name;
        QRect rect;
        const char *text;
        bool visible;
    } table[] = {
        {"透明标签1", {408, 40, 80, 24}, "", true},
        {"组合框2", {128, 8, 144, 20}, "", true},
        {"标签5", {384, 6, 96, 24}, "项目相片：", true},
        {"标签4", {56, 6, 72, 24}, "相片源：", true},
        {"标签2", {632, 6, 80, 24}, "", true},
        {"标签1", {280, 6, 80, 24}, "", true},
        {"组合框1", {480, 8, 144, 20}, "", true},
        {"按钮4", {720, 5, 80, 24}, "选定", true},
        {"按钮3", {288, 264, 80, 32}, "<<<<", false},
        {"按钮2", {560, 264, 80, 32}, ">>>>", false},
        {"按钮1", {816, 5, 80, 24}, "删除", true},
        {"标签7", {0, 0, 99, 32}, "", true},
        {"画板1", {80, 232, 848, 408}, "", true},
    };
    QList<QWidget *> stacking = window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    int above = stacking.size();
    for (const Control &c : table) {
        QWidget *w = host().control(StationWindow::main, c.name);
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_EQ(w->geometry(), c.rect) << c.name;
        EXPECT_EQ(text(c.name), c.text) << c.name;
        EXPECT_EQ(!w->isHidden(), c.visible) << c.name;
        int index = static_cast<int>(stacking.indexOf(w));
        EXPECT_LT(index, above) << c.name << " is not below the control before it";
        above = index;
    }
    EXPECT_EQ(window->windowTitle(), "");
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    auto *timer = window->findChild<QTimer *>("时钟1");
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    auto *total = host().control(StationWindow::main, "标签1");
    EXPECT_EQ(total->font().pixelSize(), 20);
    EXPECT_EQ(total->palette().color(QPalette::Window), QColor(0, 136, 255));
    EXPECT_EQ(host().control(StationWindow::main, "标签7")->font().weight(), QFont::Bold);
}

TEST_F(MainWindow, LayoutFollowsTheWindowSize)
{
    struct Case {
        int width, height;
    } cases[] = {{968, 732}, {1024, 768}, {1023, 768}};
    window->show();
    for (const Case &c : cases) {
        window->resize(c.width, c.height);
        EXPECT_EQ(geometryOf("画板1"), QRect(0, 32, c.width, c.height - 32));
        EXPECT_EQ(geometryOf("标签7"), QRect(0, 0, c.width, 32));
        EXPECT_EQ(geometryOf("透明标签1"), QRect(c.width / 2, 40, 80, 24));
        EXPECT_EQ(geometryOf("按钮4"), QRect(720, 5, 80, 24)); // the others keep their place
    }
}

TEST_F(MainWindow, PressOnTheRightHalfPagesForwardAndTheMiddlePagesBack)
{
    startWithPhotos();
    struct Case {
        int canvasWidth, x, expectedIndex; // from index 1 of 3
    } cases[] = {{1024, 512, 3}, {1024, 513, 2}, {849, 424, 3}, {849, 425, 2}};
    for (const Case &c : cases) {
        window->resize(c.canvasWidth, 600);
        station().currentIndex = 1;
        // Qt's position counts the border; the station's x starts inside it.
        QTest::mousePress(canvas(), Qt::LeftButton, {}, QPoint(c.x + 1, 100));
        QTest::mouseRelease(canvas(), Qt::LeftButton, {}, QPoint(c.x + 1, 100));
        EXPECT_EQ(station().currentIndex, c.expectedIndex) << c.canvasWidth << " at " << c.x;
    }
}

TEST_F(MainWindow, MenuOpensThreePixelsFromTheRelease)
{
    startWithPhotos();
    window->resize(1024, 768);
    window->move(0, 0);
    window->show();
    QPoint inside(300, 200);
    QPoint expected = canvas()->mapToGlobal(inside) + QPoint(3, 3);
    QPoint shownAt;
    QStringList items;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        shownAt = menu->pos();
        for (QAction *action : menu->actions())
            items << action->text();
        menu->close();
    });
    QTest::mousePress(canvas(), Qt::RightButton, {}, inside);
    EXPECT_TRUE(shownAt.isNull()); // nothing on the press
    QTest::mouseRelease(canvas(), Qt::RightButton, {}, inside);
    EXPECT_EQ(shownAt, expected);
    EXPECT_EQ(items, QStringList({"修改密码", "更改客户", "退出"}));
}

TEST_F(MainWindow, ButtonsRunTheirCommands)
{
    startWithPhotos();
    choose("组合框1", customer + "/入库");
    auto *select = qobject_cast<QPushButton *>(host().control(StationWindow::main, "按钮4"));
    auto *remove = qobject_cast<QPushButton *>(host().control(StationWindow::main, "按钮1"));
    std::string first = shownName();
    select->click();
    EXPECT_TRUE(tree.exists(customer + "/入库/" + first));
    remove->click();
    EXPECT_EQ(messages, std::vector<std::string>{"原相片禁止删除"});
}

TEST_F(MainWindow, PictureIsCentredAndNeverEnlarged)
{
    tree.makeFolder(customer);
    tree.writePhoto(customer + "/small.jpg", QSize(400, 300), Qt::red);
    window->show();
    window->resize(1024, 768); // inner canvas 1022 × 734
    fillSourceList();
    EXPECT_EQ(canvas()->pictureRect(), QRect(1 + 311, 1 + 217, 400, 300));
    QImage shot = canvas()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(1 + 311 + 200, 1 + 217 + 150).red() > 200, true);
    EXPECT_EQ(shot.pixelColor(1 + 311 - 5, 1 + 217 + 150), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(1 + 311 + 200, 1 + 217 + 305), QColor(Qt::black));
}

TEST_F(MainWindow, LargePictureIsScaledDownBySmallerRatio)
{
    tree.makeFolder(customer);
    tree.writePhoto(customer + "/wide.jpg", QSize(2000, 500), Qt::blue);
    window->show();
    window->resize(1024, 768);
    fillSourceList();
    // f = 1022 / 2000: 1022 × 255.5 → 1022 × 255, top (734 − 255) / 2 = 239
    EXPECT_EQ(canvas()->pictureRect(), QRect(1, 1 + 239, 1022, 255));
    QImage shot = canvas()->grab().toImage();
    EXPECT_GT(shot.pixelColor(512, 1 + 239 + 128).blue(), 200);
    EXPECT_EQ(shot.pixelColor(512, 1 + 239 - 3), QColor(Qt::black));
}

TEST_F(MainWindow, UndecodableFileLeavesTheCanvasBlack)
{
    tree.makeFolder(customer);
    tree.writeFile(customer + "/bad.jpg", "not a picture");
    window->show();
    window->resize(640, 480);
    fillSourceList();
    EXPECT_FALSE(canvas()->hasPicture());
    QImage shot = canvas()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(320, 200), QColor(Qt::black));
}
