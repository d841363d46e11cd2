// Listings, the folder lists and the counters, on real folders.
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "station_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

using Catalogue = StationTest;

namespace
{
std::vector<std::string> withoutDotNames(std::vector<std::string> names)
{
    std::erase_if(names, [](const std::string &n) { return n[0] == '.'; });
    return names;
}
} // namespace

TEST_F(Catalogue, SubFoldersInFileSystemOrderWithoutDotNames)
{
    for (const char *folder : {"张三/.cache", "张三/入库", "张三/精修", "张三/隐藏", "张三/x.jpg"})
        tree.makeFolder(folder);
    tree.writePhoto("张三/a.jpg");

    std::string folder = tree.path("张三");
    std::vector<std::string> list;
    int count = listSubFolders(folder, list, false);

    EXPECT_EQ(folder, tree.path("张三/")); // the trailing "/" is written back
    EXPECT_EQ(list, withoutDotNames(tree.foldersIn("张三")));
    EXPECT_EQ(count, 4);

    std::vector<std::string> full;
    listSubFolders(folder, full, true);
    EXPECT_EQ(full.front(), folder + list.front());
}

TEST_F(Catalogue, PhotoRootGetsTrailingSlashOnce)
{
    std::string root = tree.root();
    root.pop_back();
    std::vector<std::string> list;
    listSubFolders(root, list, false);
    EXPECT_EQ(root, tree.root());
    listSubFolders(root, list, false);
    EXPECT_EQ(root, tree.root());
}

TEST_F(Catalogue, MissingFolderListsNothing)
{
    std::string folder = tree.path("nobody");
    std::vector<std::string> list;
    EXPECT_EQ(listSubFolders(folder, list, false), 0);
    EXPECT_EQ(listFiles(folder, "*.jpg", list, false), 0);
}

TEST_F(Catalogue, ProjectListAndSelectedCount)
{
    tree.makeFolder("张三/.cache");
    tree.makeFolder("张三/入库");
    tree.makeFolder("张三/精修");
    tree.makeFolder("张三/精修/x.jpg"); // a folder is not a photo
    tree.writePhoto("张三/精修/a.jpg");
    tree.writePhoto("张三/精修/B.JPG");
    tree.writeFile("张三/精修/notes.txt", "x");

    fillProjectList();
    std::vector<std::string> expected;
    for (const std::string &name : withoutDotNames(tree.foldersIn("张三")))
        expected.push_back("张三/" + name);
    ASSERT_EQ(host().listItemCount(StationWindow::main, "组合框1"), 2);
    EXPECT_EQ(host().controlIndex(StationWindow::main, "组合框1"), 0);
    EXPECT_EQ(text("组合框1"), expected.front());

    choose("组合框1", "张三/精修"); // the user's choice refreshes the count
    EXPECT_EQ(text("标签2"), "已选2张");
    choose("组合框1", "张三/入库");
    EXPECT_EQ(text("标签2"), "已选0张");
}

TEST_F(Catalogue, CustomerWithoutSubFoldersHasEmptyProjectList)
{
    tree.makeFolder("张三");
    fillProjectList();
    EXPECT_EQ(host().listItemCount(StationWindow::main, "组合框1"), 0);
    EXPECT_EQ(host().controlIndex(StationWindow::main, "组合框1"), -1);
    EXPECT_EQ(text("组合框1"), "");
}

TEST_F(Catalogue, TotalCountsThePhotoList)
{
    refreshTotal();
    EXPECT_EQ(text("标签1"), "共0张");
    station().photoList = {"a.jpg", "b.jpg", "c.jpg"};
    refreshTotal();
    EXPECT_EQ(text("标签1"), "共3张");
}

TEST_F(Catalogue, ListingOfManyFilesMatchesReaddir)
{
    tree.makeFolder("张三/入库");
    for (int i = 0; i < 600; ++i)
        tree.writeFile("张三/入库/p" + std::to_string(i) + (i % 3 ? ".jpg" : ".JPG"), "x");
    std::string folder = tree.path("张三/入库");
    std::vector<std::string> list;
    listFiles(folder, "*.jpg", list, false);
    EXPECT_EQ(list, tree.photosIn("张三/入库"));
}
