// The host's file operations on real file systems: nothing lost, nothing half written.
#include "fault_mounts.h"
#include "host/host_services.h"
#include "photo_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{

// Names in a folder that a photo listing would never show, such as temporary files.
std::vector<std::string> leftovers(const PhotoTree &tree, const std::string &folder)
{
    std::vector<std::string> names;
    FileSearch search(tree.path(folder), "*", false);
    for (std::string name = search.next(); !name.empty(); name = search.next())
        if (name.find(".tmp") != std::string::npos)
            names.push_back(name);
    return names;
}

timespec modificationTime(const std::string &path)
{
    struct stat s {
    };
    ::stat(path.c_str(), &s);
    return s.st_mtim;
}

} // namespace

TEST(Files, CopyReplacesTheTargetAndKeepsTheModificationTime)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg", QSize(30, 20), Qt::red);
    tree.writePhoto("b.jpg", QSize(10, 10), Qt::blue);
    timespec old{1000000000, 0};
    timespec times[2] = {old, old};
    ::utimensat(AT_FDCWD, tree.path("a.jpg").c_str(), times, 0);

    ASSERT_TRUE(host().copyFile(tree.path("a.jpg"), tree.path("b.jpg")));
    EXPECT_EQ(tree.readFile("a.jpg"), tree.readFile("b.jpg"));
    EXPECT_EQ(modificationTime(tree.path("b.jpg")).tv_sec, old.tv_sec);
    EXPECT_TRUE(leftovers(tree, "").empty());
}

TEST(Files, CopyOntoItselfLeavesTheFileUntouched)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg");
    std::string bytes = tree.readFile("a.jpg");
    struct stat before {
    };
    ::stat(tree.path("a.jpg").c_str(), &before);
    EXPECT_TRUE(host().copyFile(tree.path("a.jpg"), tree.path("a.jpg")));
    EXPECT_TRUE(host().copyFile(tree.path("a.jpg"), tree.root() + "./a.jpg"));
    struct stat after {
    };
    ::stat(tree.path("a.jpg").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(tree.readFile("a.jpg"), bytes);
}

TEST(Files, MoveAcrossFileSystemsCopiesThenRemovesTheSource)
{
    PhotoTree onDisk;               // /tmp
    PhotoTree inMemory("/dev/shm"); // another file system
    onDisk.writePhoto("a.jpg", QSize(300, 200));
    inMemory.writePhoto("a.jpg", QSize(5, 5)); // replaced by the move
    std::string bytes = onDisk.readFile("a.jpg");

    ASSERT_TRUE(host().moveFile(onDisk.path("a.jpg"), inMemory.path("a.jpg")));
    EXPECT_FALSE(onDisk.exists("a.jpg"));
    EXPECT_EQ(inMemory.readFile("a.jpg"), bytes);
    EXPECT_TRUE(leftovers(inMemory, "").empty());

    ASSERT_TRUE(host().moveFile(inMemory.path("a.jpg"), onDisk.path("back.jpg")));
    EXPECT_EQ(onDisk.readFile("back.jpg"), bytes);
}

TEST(Files, MoveOrCopyIntoAMissingFolderKeepsTheSource)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg");
    std::string bytes = tree.readFile("a.jpg");
    EXPECT_FALSE(host().moveFile(tree.path("a.jpg"), tree.path("gone/a.jpg")));
    EXPECT_FALSE(host().copyFile(tree.path("a.jpg"), tree.path("gone/a.jpg")));
    PhotoTree other("/dev/shm");
    EXPECT_FALSE(host().moveFile(tree.path("a.jpg"), other.path("gone/a.jpg")));
    EXPECT_EQ(tree.readFile("a.jpg"), bytes);
}

TEST(Files, MoveOrCopyIntoAReadOnlyFolderKeepsBothFiles)
{
    ASSERT_EQ(geteuid(), 0u) << "needs root to make a read-only mount"
                             << " (the test command runs as root)";
    PhotoTree tree;
    PhotoTree other("/dev/shm");
    tree.writePhoto("a.jpg", QSize(30, 30), Qt::red);
    tree.makeFolder("locked");
    tree.writePhoto("locked/a.jpg", QSize(8, 8), Qt::blue);
    other.writePhoto("a.jpg", QSize(9, 9), Qt::green);
    std::string source = tree.readFile("a.jpg");
    std::string lockedTarget = tree.readFile("locked/a.jpg");
    std::string otherTarget = other.readFile("a.jpg");
    {
        ReadOnlyFolder locked(tree.path("locked"));
        ReadOnlyFolder lockedOther(other.root());
        ASSERT_TRUE(locked.active() && lockedOther.active());
        EXPECT_FALSE(host().moveFile(tree.path("a.jpg"), tree.path("locked/a.jpg")));
        EXPECT_FALSE(host().copyFile(tree.path("a.jpg"), tree.path("locked/a.jpg")));
        EXPECT_FALSE(host().moveFile(tree.path("a.jpg"), other.path("a.jpg")));
    }
    EXPECT_EQ(tree.readFile("a.jpg"), source);
    EXPECT_EQ(tree.readFile("locked/a.jpg"), lockedTarget);
    EXPECT_EQ(other.readFile("a.jpg"), otherTarget);
}

TEST(Files, MoveOntoAFullDiskLeavesNoPartialFile)
{
    ASSERT_EQ(geteuid(), 0u) << "needs root to mount a small disk"
                             << " (the test command runs as root)";
    PhotoTree tree;
    tree.writePhoto("a.jpg", QSize(800, 600));
    tree.makeFolder("small");
    SmallDisk disk(tree.path("small"), 256 * 1024);
    ASSERT_TRUE(disk.active());
    tree.writePhoto("small/a.jpg", QSize(8, 8), Qt::blue);
    std::string old = tree.readFile("small/a.jpg");
    disk.fill();
    std::string bytes = tree.readFile("a.jpg");

    EXPECT_FALSE(host().moveFile(tree.path("a.jpg"), tree.path("small/a.jpg")));
    EXPECT_FALSE(host().copyFile(tree.path("a.jpg"), tree.path("small/a.jpg")));
    EXPECT_EQ(tree.readFile("a.jpg"), bytes);
    EXPECT_EQ(tree.readFile("small/a.jpg"), old);
    EXPECT_TRUE(leftovers(tree, "small").empty());
}

TEST(Files, MoveNoReplaceKeepsAnExistingTarget)
{
    PhotoTree tree;
    PhotoTree other("/dev/shm");
    tree.writePhoto("a.jpg", QSize(10, 10), Qt::red);
    tree.writePhoto("b.jpg", QSize(12, 12), Qt::blue);
    other.writePhoto("a.jpg", QSize(14, 14), Qt::green);
    std::string a = tree.readFile("a.jpg"), b = tree.readFile("b.jpg"), o = other.readFile("a.jpg");
    EXPECT_FALSE(host().moveFileNoReplace(tree.path("a.jpg"), tree.path("b.jpg")));
    EXPECT_FALSE(host().moveFileNoReplace(tree.path("a.jpg"), other.path("a.jpg")));
    EXPECT_EQ(tree.readFile("a.jpg"), a);
    EXPECT_EQ(tree.readFile("b.jpg"), b);
    EXPECT_EQ(other.readFile("a.jpg"), o);
    EXPECT_TRUE(leftovers(other, "").empty());
    EXPECT_TRUE(host().moveFileNoReplace(tree.path("a.jpg"), other.path("c.jpg")));
    EXPECT_EQ(other.readFile("c.jpg"), a);
    EXPECT_FALSE(tree.exists("a.jpg"));
}

TEST(Files, ReadingOnlyTakesRegularFiles)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg");
    ::mkfifo(tree.path("p.jpg").c_str(), 0644); // nobody ever writes: a blocking open would hang
    tree.makeFolder("x.jpg");
    EXPECT_FALSE(tree.readFile("a.jpg").empty());
    EXPECT_EQ(host().readWholeFile(tree.path("p.jpg")), "");
    EXPECT_EQ(host().readWholeFile(tree.path("x.jpg")), "");
    EXPECT_EQ(host().readWholeFile(tree.path("missing.jpg")), "");
}

TEST(Files, SearchFiltersAndMatchesWithoutCase)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg");
    tree.writePhoto("B.JPG");
    tree.writeFile(".hidden.jpg", "x");
    tree.writeFile("c.jpeg", "x");
    tree.makeFolder("x.jpg");
    ::symlink(tree.path("a.jpg").c_str(), tree.path("link.jpg").c_str());
    ::symlink(tree.path("x.jpg").c_str(), tree.path("dirlink.jpg").c_str());

    std::vector<std::string> files;
    FileSearch photos(tree.root(), "*.jpg", false);
    for (std::string name = photos.next(); !name.empty(); name = photos.next())
        files.push_back(name);
    EXPECT_EQ(files, tree.photosIn(""));
    EXPECT_EQ(files.size(), 4u); // a, B, .hidden, link

    std::vector<std::string> folders;
    FileSearch all(tree.root(), "*", true);
    for (std::string name = all.next(); !name.empty(); name = all.next())
        folders.push_back(name);
    EXPECT_EQ(folders, tree.foldersIn(""));
    EXPECT_EQ(folders.size(), 4u); // ".", "..", x.jpg, dirlink.jpg
}

TEST(Files, PatternTable)
{
    struct Case {
        const char *name, *pattern;
        bool matches;
    } cases[] = {
        {"a.jpg", "*.jpg", true}, {"A.JPG", "*.jpg", true},      {"a.jpeg", "*.jpg", false},
        {".jpg", "*.jpg", true},  {"a.jpg.tmp", "*.jpg", false}, {"\xC8\xEB.jpg", "*.jpg", true},
        {"ab", "a?", true},       {"abc", "a*c", true},          {"", "*", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(Files, OnlyStaleTemporaryFilesAreSwept)
{
    PhotoTree tree;
    tree.writeFile(".selvana-old123.tmp", "half a photo");
    tree.writeFile(".selvana-new456.tmp", "a copy in progress");
    tree.writeFile("keep.jpg", "x");
    timespec old{::time(nullptr) - 3600, 0};
    timespec times[2] = {old, old};
    ::utimensat(AT_FDCWD, tree.path(".selvana-old123.tmp").c_str(), times, 0);
    ::utimensat(AT_FDCWD, tree.path("keep.jpg").c_str(), times, 0);
    std::string folder = tree.root();
    folder.pop_back();
    host().removeStaleTemporaryFiles(folder);
    EXPECT_FALSE(tree.exists(".selvana-old123.tmp"));
    EXPECT_TRUE(tree.exists(".selvana-new456.tmp"));
    EXPECT_TRUE(tree.exists("keep.jpg"));
}
