// Paging, select and delete through real photo trees.
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "fault_mounts.h"
#include "host/station_widgets.h"
#include "station_fixture.h"

#include <QColor>
#include <sys/stat.h>

namespace
{

class Selection : public StationTest
{
  protected:
    // 张三 with `count` photos in the originals and the sub-folders 入库 and 精修.
    void makeCustomer(int count, const std::vector<std::string> &subFolders = {"入库", "精修"})
    {
        tree.makeFolder(customer);
        for (const std::string &folder : subFolders)
            tree.makeFolder(customer + "/" + folder);
        for (int i = 1; i <= count; ++i)
            tree.writePhoto(customer + "/p" + std::to_string(i) + ".jpg", QSize(40, 30),
                            QColor::fromHsv(i * 30 % 360, 200, 200));
    }

    // Logged in with `project` chosen as the project folder (when given).
    void start(const std::string &project = "入库")
    {
        fillSourceList();
        fillProjectList();
        refreshTotal();
        refreshSelectedCount();
        if (host().listItemCount(StationWindow::main, "组合框1") > 0 && !project.empty())
            choose("组合框1", customer + "/" + project);
        startMessages = messages;
        messages.clear();
    }
    std::vector<std::string> startMessages;

    PhotoCanvas *canvas() const
    {
        return qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
    }
};

} // namespace

TEST_F(Selection, SourceListStartsWithTheOriginals)
{
    makeCustomer(2, {"入库", ".cache", "精修"});
    start();
    ASSERT_EQ(host().listItemCount(StationWindow::main, "组合框2"), 3);
    EXPECT_EQ(text("组合框2"), customer);
    EXPECT_EQ(station().photoList, tree.photosIn(customer));
    EXPECT_EQ(station().currentIndex, 1);
    EXPECT_TRUE(canvas()->hasPicture());
    EXPECT_EQ(text("标签7"), position(1, 2));
    EXPECT_EQ(text("标签1"), "共2张");
    EXPECT_TRUE(startMessages.empty());
}

TEST_F(Selection, PagingWrapsAroundBothWays)
{
    makeCustomer(3);
    start();
    showNext();
    showNext();
    EXPECT_EQ(text("标签7"), position(3, 3));
    showNext();
    EXPECT_EQ(station().currentIndex, 1);
    showPrevious();
    EXPECT_EQ(station().currentIndex, 3);
    EXPECT_EQ(text("标签7"), position(3, 3));
}

TEST_F(Selection, SinglePhotoIsShownAgain)
{
    makeCustomer(1);
    start();
    quint64 before = canvas()->pictureSerial();
    showNext();
    showPrevious();
    EXPECT_EQ(station().currentIndex, 1);
    EXPECT_EQ(canvas()->pictureSerial(), before + 2); // read and set afresh each time
}

TEST_F(Selection, EmptySourceKeepsThePreviousPicture)
{
    makeCustomer(2);
    start();
    choose("组合框2", customer + "/精修");
    EXPECT_EQ(messages, std::vector<std::string>{"没有发现相片"});
    EXPECT_EQ(text("标签1"), "共0张");
    EXPECT_EQ(station().currentIndex, 0);
    EXPECT_TRUE(canvas()->hasPicture());
    EXPECT_EQ(text("标签7"), position(1, 2));

    for (auto command : {selectCurrent, deleteCurrent, showNext, showPrevious})
        command();
    EXPECT_EQ(messages.size(), 5u);
}

TEST_F(Selection, UppercaseJpgIsAPhotoAndFolderIsNot)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/A.JPG");
    tree.makeFolder(customer + "/x.jpg");
    start();
    EXPECT_EQ(station().photoList, std::vector<std::string>{"A.JPG"});
}

TEST_F(Selection, SelectFromOriginalsMovesAndShowsTheNext)
{
    makeCustomer(10);
    start();
    for (int i = 0; i < 4; ++i)
        showNext();
    std::string fifth = shownName();
    std::string sixth = station().photoList[5];
    std::string bytes = tree.readFile(customer + "/" + fifth);

    selectCurrent();

    EXPECT_FALSE(tree.exists(customer + "/" + fifth));
    EXPECT_EQ(tree.readFile(customer + "/入库/" + fifth), bytes);
    EXPECT_EQ(shownName(), sixth);
    EXPECT_EQ(text("标签7"), position(5, 9));
    EXPECT_EQ(text("标签1"), "共9张");
    EXPECT_EQ(text("标签2"), "已选1张");
}

TEST_F(Selection, SelectingTheLastWrapsAndTheOnlyEmptiesTheList)
{
    makeCustomer(2);
    start();
    showNext();
    selectCurrent();
    EXPECT_EQ(text("标签7"), position(1, 1));

    selectCurrent();
    EXPECT_EQ(messages, std::vector<std::string>{"没有发现相片"});
    EXPECT_EQ(text("标签1"), "共0张");
    EXPECT_EQ(text("标签2"), "已选2张");
    EXPECT_EQ(text("标签7"), position(1, 1)); // keeps the moved photo's state
    EXPECT_TRUE(canvas()->hasPicture());
}

TEST_F(Selection, SelectFromOriginalsReplacesSameNameInProject)
{
    makeCustomer(1);
    tree.writePhoto(customer + "/入库/p1.jpg", QSize(8, 8), Qt::black);
    std::string original = tree.readFile(customer + "/p1.jpg");
    start();
    selectCurrent();
    EXPECT_EQ(tree.readFile(customer + "/入库/p1.jpg"), original);
    EXPECT_FALSE(tree.exists(customer + "/p1.jpg"));
}

TEST_F(Selection, SelectFromSubFolderCopiesAndKeepsTheList)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/入库/a.jpg", QSize(20, 20), Qt::red);
    tree.writePhoto(customer + "/入库/b.jpg", QSize(20, 20), Qt::blue);
    start();
    choose("组合框2", customer + "/入库");
    choose("组合框1", customer + "/精修");
    std::string first = shownName();

    selectCurrent();
    EXPECT_EQ(tree.readFile(customer + "/精修/" + first),
              tree.readFile(customer + "/入库/" + first));
    EXPECT_EQ(station().photoList.size(), 2u);
    EXPECT_EQ(station().currentIndex, 2);
    EXPECT_EQ(text("标签2"), "已选1张");

    showPrevious();
    EXPECT_EQ(text("透明标签1"), "已选");
    selectCurrent(); // again: replaces the copy, the count stays
    EXPECT_EQ(text("标签2"), "已选1张");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Selection, SelectIntoTheSameFolderLeavesTheFileAndPagesOn)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/入库/a.jpg");
    tree.writePhoto(customer + "/入库/b.jpg");
    start();
    choose("组合框2", customer + "/入库");
    std::string bytes = tree.readFile(customer + "/入库/a.jpg");
    struct stat before {
    };
    ::stat(tree.path(customer + "/入库/a.jpg").c_str(), &before);
    while (shownName() != "a.jpg")
        showNext();
    int index = station().currentIndex;

    selectCurrent();

    struct stat after {
    };
    ::stat(tree.path(customer + "/入库/a.jpg").c_str(), &after);
    EXPECT_EQ(tree.readFile(customer + "/入库/a.jpg"), bytes);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(station().currentIndex, index % 2 + 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Selection, SelectIsRefusedWithoutAProjectFolder)
{
    makeCustomer(2, {});
    start();
    selectCurrent();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0], "没有发现相片");
    EXPECT_EQ(tree.photosIn(customer).size(), 2u);
    EXPECT_TRUE(tree.photosIn("").empty()); // nothing landed in the shared photo root
}

TEST_F(Selection, DeleteInTheOriginalsIsRefused)
{
    makeCustomer(2);
    start();
    deleteCurrent();
    EXPECT_EQ(messages, std::vector<std::string>{"原相片禁止删除"});
    EXPECT_EQ(tree.photosIn(customer).size(), 2u);
    EXPECT_EQ(station().photoList.size(), 2u);
}

TEST_F(Selection, DeleteInStockInMovesBackReplacingTheOriginal)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/p1.jpg", QSize(8, 8), Qt::black);
    tree.writePhoto(customer + "/入库/p1.jpg", QSize(30, 30), Qt::green);
    tree.writePhoto(customer + "/入库/p2.jpg", QSize(30, 30), Qt::yellow);
    std::string stockIn = tree.readFile(customer + "/入库/p1.jpg");
    start();
    choose("组合框2", customer + "/入库");
    while (shownName() != "p1.jpg")
        showNext();

    deleteCurrent();

    EXPECT_FALSE(tree.exists(customer + "/入库/p1.jpg"));
    EXPECT_EQ(tree.readFile(customer + "/p1.jpg"), stockIn);
    EXPECT_EQ(station().photoList, std::vector<std::string>{"p2.jpg"});
    EXPECT_EQ(text("标签1"), "共1张");
}

TEST_F(Selection, StockInNamedInCodePage936IsStockIn)
{
    makeCustomer(0, {});
    std::string cp936StockIn = customer + "/\xC8\xEB\xBF\xE2";
    tree.makeFolder(cp936StockIn);
    tree.writePhoto(cp936StockIn + "/a.jpg");
    start("");
    choose("组合框2", cp936StockIn);
    deleteCurrent();
    EXPECT_TRUE(tree.exists(customer + "/a.jpg"));
}

TEST_F(Selection, DeleteElsewhereKeepsThePhotoInTheDeletedPhotosFolder)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/精修/a.jpg", QSize(10, 10), Qt::red);
    start();
    choose("组合框2", customer + "/精修");
    std::string first = tree.readFile(customer + "/精修/a.jpg");
    deleteCurrent();
    EXPECT_FALSE(tree.exists(customer + "/精修/a.jpg"));
    EXPECT_EQ(tree.readFile(customer + "/.回收站/a.jpg"), first);

    // A second photo of that name never replaces the first one kept.
    tree.writePhoto(customer + "/精修/a.jpg", QSize(12, 12), Qt::blue);
    std::string second = tree.readFile(customer + "/精修/a.jpg");
    choose("组合框2", customer + "/精修");
    deleteCurrent();
    EXPECT_EQ(tree.readFile(customer + "/.回收站/a.jpg"), first);
    EXPECT_EQ(tree.readFile(customer + "/.回收站/a (2).jpg"), second);
    EXPECT_EQ(messages, (std::vector<std::string>{"没有发现相片", "没有发现相片"}));
    // The deleted-photos folder is never offered as a folder.
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框2"), 3);
}

TEST_F(Selection, DeleteRefreshesTheSelectedCount)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/入库/a.jpg");
    tree.writePhoto(customer + "/入库/b.jpg");
    start();
    choose("组合框2", customer + "/入库");
    choose("组合框1", customer + "/入库");
    EXPECT_EQ(text("标签2"), "已选2张");
    deleteCurrent();
    EXPECT_EQ(text("标签2"), "已选1张");
}

TEST_F(Selection, FailedMoveOrDeleteKeepsThePhotoAndItsEntry)
{
    ASSERT_EQ(geteuid(), 0u) << "needs root to make a read-only mount"
                             << " (the test command runs as root)";
    makeCustomer(3);
    tree.writePhoto(customer + "/精修/a.jpg");
    start();
    std::string shown = shownName();
    {
        ReadOnlyFolder locked(tree.path(customer));
        ASSERT_TRUE(locked.active());
        selectCurrent(); // a move out of a read-only folder cannot complete
        EXPECT_TRUE(tree.exists(customer + "/" + shown));
        EXPECT_EQ(shownName(), shown);
        EXPECT_EQ(station().photoList.size(), 3u);
        EXPECT_EQ(text("标签1"), "共3张");
        ASSERT_EQ(messages.size(), 1u);

        choose("组合框2", customer + "/精修");
        ReadOnlyFolder lockedProject(tree.path(customer + "/精修"));
        deleteCurrent();
        EXPECT_TRUE(tree.exists(customer + "/精修/a.jpg"));
        EXPECT_EQ(station().photoList.size(), 1u);
        EXPECT_EQ(messages.size(), 2u);
    }
}

TEST_F(Selection, MissingPhotoShowsNoPictureButUpdatesTheTexts)
{
    makeCustomer(2);
    start();
    std::string next = station().photoList[1];
    ::unlink(tree.path(customer + "/" + next).c_str());
    showNext();
    EXPECT_FALSE(canvas()->hasPicture());
    EXPECT_EQ(text("标签7"), position(2, 2));
}

TEST_F(Selection, MarkerFollowsTheProjectFolderWhenShown)
{
    makeCustomer(0);
    tree.writePhoto(customer + "/精修/a.jpg");
    tree.writePhoto(customer + "/入库/a.jpg");
    start();
    choose("组合框2", customer + "/精修");
    choose("组合框1", customer + "/入库");
    showNext();
    EXPECT_EQ(text("透明标签1"), "已选");
    choose("组合框1", customer + "/精修");
    EXPECT_EQ(text("透明标签1"), "已选"); // only refreshed when a photo is shown
    ::unlink(tree.path(customer + "/入库/a.jpg").c_str());
    choose("组合框1", customer + "/入库");
    showNext();
    EXPECT_EQ(text("透明标签1"), "");
}
