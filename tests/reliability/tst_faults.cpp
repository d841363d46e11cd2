// Real faults under the station: full and read-only disks, photos and folders changed by another
// program while shown, awkward file names and files that are no photos. Whatever happens, no
// photo is lost or corrupted and the station keeps working.
#include "fault_mounts.h"
#include "host/picture_decode.h"
#include "host/station_widgets.h"
#include "reliability_station.h"
#include "station_fixture.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace reliability;

namespace
{

class Faults : public StationTest
{
  protected:
    // 张三 with `count` photos in the originals and the sub-folders 入库 and 精修 (unless mounted
    // there by the test), remembered by name and bytes.
    void makeCustomer(int count)
    {
        tree.makeFolder(customer + "/入库");
        tree.makeFolder(customer + "/精修");
        for (int i = 1; i <= count; ++i)
            addPhoto(customer + "/p" + std::to_string(i) + ".jpg", QSize(160, 120), i);
    }

    void addPhoto(const std::string &relative, QSize size, int hue)
    {
        tree.writePhoto(relative, size, QColor::fromHsv(hue * 37 % 360, 200, 200));
        photos[baseName(relative)] = tree.readFile(relative);
    }

    void start(const std::string &project = "入库")
    {
        fillSourceList();
        fillProjectList();
        refreshTotal();
        refreshSelectedCount();
        if (!project.empty()) {
            ASSERT_TRUE(chooseItem("组合框1", customer + "/" + project));
        }
        messages.clear();
    }

    void expectNothingLost(const std::vector<std::string> &ignored = {".filler"})
    {
        TreeAudit audit = auditTree(tree.path(customer), photos, ignored);
        EXPECT_TRUE(audit.problems.empty()) << ::testing::PrintToString(audit.problems);
        EXPECT_TRUE(audit.temporaries.empty()) << ::testing::PrintToString(audit.temporaries);
    }

    // Selects every photo of the source folder, paging past those that cannot be selected.
    void selectAll()
    {
        for (size_t tries = 0; tries < 3 * photos.size() + 3 && !station().photoList.empty();
             ++tries) {
            size_t before = failures().size();
            selectCurrent();
            if (failures().size() != before)
                showNext();
        }
    }

    void deleteAll()
    {
        for (size_t tries = 0; tries < 3 * photos.size() + 3 && !station().photoList.empty();
             ++tries) {
            size_t before = failures().size();
            deleteCurrent();
            if (failures().size() != before)
                showNext();
        }
    }

    // The messages of commands that could not be done ("no photos" after the last one left
    // is no failure).
    std::vector<std::string> failures() const
    {
        std::vector<std::string> found;
        for (const std::string &m : messages)
            if (m != "没有发现相片")
                found.push_back(m);
        return found;
    }

    PhotoCanvas *canvas() const
    {
        return qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
    }

    static bool rootOnly() { return geteuid() == 0; }

    std::map<std::string, std::string> photos;
};

// A JPEG whose frame header declares `width` x `height` pixels; the data after it is that of a
// small picture, so it ends far too early for the declared size.
std::string declaringSize(std::string jpeg, int width, int height)
{
    for (size_t at = 2; at + 9 < jpeg.size();) {
        auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[i]); };
        if (byte(at) != 0xFF)
            break;
        unsigned char marker = byte(at + 1);
        if (marker >= 0xC0 && marker <= 0xC2) {
            jpeg[at + 5] = static_cast<char>(height >> 8);
            jpeg[at + 6] = static_cast<char>(height & 0xFF);
            jpeg[at + 7] = static_cast<char>(width >> 8);
            jpeg[at + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
        at += 2 + (byte(at + 2) << 8 | byte(at + 3));
    }
    return {};
}

std::vector<std::string> allEntries(const std::string &folder)
{
    std::vector<std::string> files;
    listTree(folder, "", files);
    return files;
}

} // namespace

TEST_F(Faults, SelectOntoAFullProjectDiskKeepsThePhotoInTheOriginals)
{
    ASSERT_TRUE(rootOnly()) << "needs root to mount a small disk"
                            << " (the test command runs as root)";
    makeCustomer(3);
    SmallDisk disk(tree.path(customer + "/精修"), 256 * 1024);
    ASSERT_TRUE(disk.active());
    disk.fill();
    start("精修");
    std::string shown = shownName();

    selectCurrent();

    EXPECT_EQ(tree.readFile(customer + "/" + shown), photos[shown]);
    EXPECT_EQ(allEntries(tree.path(customer + "/精修")), std::vector<std::string>{".filler"});
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(shownName(), shown);
    EXPECT_EQ(station().photoList.size(), 3u);
    EXPECT_EQ(text("标签1"), "共3张");
    EXPECT_EQ(text("标签2"), "已选0张");
    expectNothingLost();
}

TEST_F(Faults, CopyOntoAFullDiskKeepsTheFileOfThatName)
{
    ASSERT_TRUE(rootOnly()) << "needs root to mount a small disk"
                            << " (the test command runs as root)";
    makeCustomer(0);
    SmallDisk disk(tree.path(customer + "/精修"), 256 * 1024);
    ASSERT_TRUE(disk.active());
    std::string old = jpegBytes(QSize(16, 16), Qt::black);
    tree.writeFile(customer + "/精修/a.jpg", old);
    disk.fill();
    addPhoto(customer + "/入库/a.jpg", QSize(400, 300), 1);
    start("精修");
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));

    selectCurrent();

    EXPECT_EQ(tree.readFile(customer + "/精修/a.jpg"), old);
    EXPECT_EQ(tree.readFile(customer + "/入库/a.jpg"), photos["a.jpg"]);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(allEntries(tree.path(customer + "/精修")).size(), 2u); // a.jpg and .filler
}

TEST_F(Faults, DeleteOntoAFullDiskKeepsThePhoto)
{
    ASSERT_TRUE(rootOnly()) << "needs root to mount a small disk"
                            << " (the test command runs as root)";
    // The whole tree on one small disk, the project folder on another: the deleted-photos
    // folder needs a copy on the full one.
    SmallDisk treeDisk(tree.path("disk"), 4 * 1024 * 1024);
    ASSERT_TRUE(treeDisk.active());
    PhotoTree small(tree.path("disk"));
    station().photoRoot = small.root();
    small.makeFolder(customer + "/入库");
    SmallDisk projectDisk(small.path(customer + "/精修"), 1024 * 1024);
    ASSERT_TRUE(projectDisk.active());
    small.writePhoto(customer + "/精修/a.jpg", QSize(300, 200), Qt::red);
    std::string bytes = small.readFile(customer + "/精修/a.jpg");
    treeDisk.fill();
    start();
    ASSERT_TRUE(chooseItem("组合框2", customer + "/精修"));

    deleteCurrent();

    EXPECT_EQ(small.readFile(customer + "/精修/a.jpg"), bytes);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(station().photoList.size(), 1u);
    std::vector<std::string> leftOver = allEntries(small.path(customer + "/.回收站"));
    EXPECT_TRUE(leftOver.empty()) << ::testing::PrintToString(leftOver);
}

TEST_F(Faults, ReadOnlyProjectFolderKeepsThePhoto)
{
    ASSERT_TRUE(rootOnly()) << "needs root to make a read-only mount"
                            << " (the test command runs as root)";
    makeCustomer(2);
    start("精修");
    ReadOnlyFolder locked(tree.path(customer + "/精修"));
    ASSERT_TRUE(locked.active());
    selectCurrent();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(station().photoList.size(), 2u);
    expectNothingLost();
}

// What another program does to the shown photo (and to the one decoded ahead after it).
enum class Change { deleted, renamed, emptied, replacedByFolder, replacedByFifo, replacedByPhoto };

class ChangedWhileShown : public Faults, public ::testing::WithParamInterface<Change>
{
  protected:
    // Applies the change to `name` in the originals and updates what must survive.
    void change(const std::string &name, std::vector<std::string> &ignored)
    {
        std::string relative = customer + "/" + name;
        std::string path = tree.path(relative);
        switch (GetParam()) {
        case Change::deleted:
            ::unlink(path.c_str());
            photos.erase(name);
            break;
        case Change::renamed:
            ::rename(path.c_str(), tree.path(customer + "/renamed-" + name).c_str());
            photos["renamed-" + name] = photos[name];
            photos.erase(name);
            break;
        case Change::emptied:
            ::truncate(path.c_str(), 0);
            photos[name] = "";
            break;
        case Change::replacedByFolder:
            ::unlink(path.c_str());
            ::mkdir(path.c_str(), 0755);
            photos.erase(name);
            break;
        case Change::replacedByFifo:
            ::unlink(path.c_str());
            ::mkfifo(path.c_str(), 0644);
            photos.erase(name);
            ignored.push_back(name);
            break;
        case Change::replacedByPhoto:
            tree.writePhoto(relative, QSize(50, 50), Qt::white);
            photos[name] = tree.readFile(relative);
            break;
        }
    }
};

std::string changeName(const ::testing::TestParamInfo<Change> &info)
{
    const char *const names[] = {"Deleted",          "Renamed",        "Emptied",
                                 "ReplacedByFolder", "ReplacedByFifo", "ReplacedByPhoto"};
    return names[static_cast<int>(info.param)];
}

TEST_P(ChangedWhileShown, PagingSelectAndDeleteGoOnAndNothingIsLost)
{
    makeCustomer(5);
    start();
    std::vector<std::string> ignored{".filler"};
    std::string shown = shownName();
    std::string ahead = station().photoList[1]; // being decoded ahead now
    change(shown, ignored);
    change(ahead, ignored);

    for (int i = 0; i < 7; ++i)
        showNext();
    for (int i = 0; i < 7; ++i)
        showPrevious();
    EXPECT_EQ(station().photoList.size(), 5u);
    EXPECT_EQ(text("标签7"), position(station().currentIndex, 5));
    if (GetParam() == Change::replacedByPhoto) {
        while (shownName() != shown)
            showNext();
        EXPECT_TRUE(canvas()->hasPicture());
    }

    selectAll(); // originals -> 入库 (moves)
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    ASSERT_TRUE(chooseItem("组合框1", customer + "/精修"));
    selectAll(); // 入库 -> 精修 (copies)
    ASSERT_TRUE(chooseItem("组合框2", customer + "/精修"));
    deleteAll(); // 精修 -> the deleted-photos folder
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    deleteAll(); // 入库 -> back to the originals

    expectNothingLost(ignored);
    EXPECT_TRUE(station().photoList.empty() || GetParam() == Change::replacedByFifo ||
                GetParam() == Change::replacedByFolder)
        << ::testing::PrintToString(station().photoList);
}

INSTANTIATE_TEST_SUITE_P(Faults, ChangedWhileShown,
                         ::testing::Values(Change::deleted, Change::renamed, Change::emptied,
                                           Change::replacedByFolder, Change::replacedByFifo,
                                           Change::replacedByPhoto),
                         changeName);

TEST_F(Faults, ProjectFolderRemovedWhileRunning)
{
    makeCustomer(3);
    start("精修");
    ASSERT_EQ(::rename(tree.path(customer + "/精修").c_str(), tree.path("away").c_str()), 0);
    std::string shown = shownName();

    selectCurrent();

    EXPECT_EQ(tree.readFile(customer + "/" + shown), photos[shown]);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(station().photoList.size(), 3u);
    EXPECT_EQ(text("标签2"), "已选0张");
    EXPECT_FALSE(tree.exists(customer + "/精修")); // never made anew under the old name
    EXPECT_EQ(tree.photosIn("").size(), 0u);       // nothing landed in the photo root
    expectNothingLost();
}

TEST_F(Faults, SourceFolderRemovedWhileRunning)
{
    makeCustomer(0);
    addPhoto(customer + "/入库/a.jpg", QSize(60, 40), 1);
    addPhoto(customer + "/入库/b.jpg", QSize(60, 40), 2);
    start("精修");
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    ASSERT_EQ(::rename(tree.path(customer + "/入库").c_str(), tree.path("away").c_str()), 0);

    showNext();
    showPrevious();
    selectCurrent(); // a copy from a folder that is gone
    deleteCurrent(); // a move back to the originals from a folder that is gone
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(station().photoList.size(), 2u);
    EXPECT_TRUE(tree.photosIn(customer + "/精修").empty());
    EXPECT_TRUE(tree.photosIn(customer).empty());

    // The customer's folder itself goes: the commands still only report.
    ASSERT_EQ(::rename(tree.path(customer).c_str(), tree.path("gone").c_str()), 0);
    ASSERT_TRUE(chooseItem("组合框2", customer));
    selectCurrent();
    deleteCurrent();
    showNext();
    EXPECT_EQ(text("标签1"), "共0张");
    EXPECT_EQ(tree.readFile("away/a.jpg"), photos["a.jpg"]);
    EXPECT_EQ(tree.readFile("away/b.jpg"), photos["b.jpg"]);
}

TEST_F(Faults, AwkwardFileNamesPageSelectAndDelete)
{
    const std::vector<std::string> names = {
        "\xFF\xFE\x80 not utf-8.jpg",
        "\xD5\xC5\xC8\xFD.jpg", // 张三 in code page 936
        "two\nlines.jpg",
        " leading blank and trailing dot..jpg",
        std::string(251, 'n') + ".jpg",
        [] {
            std::string name;
            while (name.size() + 3 <= 251)
                name += "张";
            return name + std::string(251 - name.size(), 'x') + ".jpg";
        }(),
    };
    makeCustomer(0);
    for (size_t i = 0; i < names.size(); ++i) {
        ASSERT_LE(names[i].size(), 255u);
        addPhoto(customer + "/" + names[i], QSize(40, 30), static_cast<int>(i));
    }
    start();
    ASSERT_EQ(station().photoList.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(canvas()->hasPicture()) << shownName();
        showNext();
    }

    selectAll(); // originals -> 入库
    EXPECT_EQ(tree.photosIn(customer + "/入库").size(), names.size());
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    ASSERT_TRUE(chooseItem("组合框1", customer + "/精修"));
    selectAll(); // 入库 -> 精修
    EXPECT_EQ(text("标签2"), "已选" + std::to_string(names.size()) + "张");
    ASSERT_TRUE(chooseItem("组合框2", customer + "/精修"));
    deleteAll(); // into the deleted-photos folder
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    selectAll(); // the same names into 精修 again, and deleted again: numbered names now
    ASSERT_TRUE(chooseItem("组合框2", customer + "/精修"));
    deleteAll();
    ASSERT_TRUE(chooseItem("组合框2", customer + "/入库"));
    deleteAll(); // back to the originals

    // A second photo of a 255-byte name is kept under a shortened numbered name.
    EXPECT_TRUE(failures().empty());
    EXPECT_TRUE(tree.photosIn(customer + "/精修").empty());
    EXPECT_EQ(tree.photosIn(customer).size(), names.size());
    EXPECT_EQ(tree.photosIn(customer + "/.回收站").size(), 2 * names.size());
    expectNothingLost();
    removeTree(tree.path(customer)); // Qt cannot remove names that are not UTF-8
}

TEST_F(Faults, FilesThatAreNoPhotosAreShownAsNothingAndKept)
{
    makeCustomer(0);
    addPhoto(customer + "/a.jpg", QSize(64, 48), 1);
    tree.writeFile(customer + "/empty.jpg", "");
    photos["empty.jpg"] = "";
    std::string huge = declaringSize(jpegBytes(QSize(64, 48), Qt::red), 65500, 65500);
    ASSERT_FALSE(huge.empty());
    tree.writeFile(customer + "/huge.jpg", huge);
    photos["huge.jpg"] = huge;
    tree.makeFolder(customer + "/folder.jpg");
    tree.writePhoto(customer + "/folder.jpg/inside.jpg");
    photos["inside.jpg"] = tree.readFile(customer + "/folder.jpg/inside.jpg");

    resetPeakMemory();
    long before = memoryKiB("VmHWM");
    start();
    ASSERT_EQ(station().photoList.size(), 3u);
    for (int i = 0; i < 6; ++i) {
        bool isPhoto = shownName() == "a.jpg";
        EXPECT_EQ(canvas()->hasPicture(), isPhoto) << shownName();
        showNext();
    }
    long growth = memoryKiB("VmHWM") - before;
    EXPECT_LT(growth, 64 * 1024) << "KiB more at the peak";
    std::printf("[ figures  ] peak memory growth paging a 65500x65500 JPEG header: %ld KiB\n",
                growth);

    selectAll();
    EXPECT_TRUE(failures().empty()) << ::testing::PrintToString(failures());
    EXPECT_EQ(tree.photosIn(customer + "/入库").size(), 3u);
    EXPECT_TRUE(tree.exists(customer + "/folder.jpg/inside.jpg"));
    expectNothingLost();
}

TEST(BadPictures, DeclaredSizesAndCutsOfAJpegDecodeToNothingOrAPicture)
{
    std::string real = jpegBytes(QSize(64, 48), Qt::red);
    for (auto [width, height] : {std::pair{65500, 65500}, {65500, 1}, {1, 65500}, {0, 0}}) {
        std::string declared = declaringSize(real, width, height);
        resetPeakMemory();
        long before = memoryKiB("VmHWM");
        for (size_t cut : {declared.size(), declared.size() / 2, size_t{200}, size_t{3}}) {
            CanvasPicture picture = decodeCanvasPicture(
                reinterpret_cast<const unsigned char *>(declared.data()), cut, QSize(848, 408));
            if (!picture.image.isNull()) {
                EXPECT_LE(picture.image.width() * picture.image.height(), 2 * 848 * 408);
            }
        }
        EXPECT_LT(memoryKiB("VmHWM") - before, 64 * 1024) << width << "x" << height;
    }
}

TEST_F(Faults, TenThousandCustomersAreAllListed)
{
    const int count = 10000;
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(::mkdir(tree.path("客户" + std::to_string(i)).c_str(), 0755), 0);
    tree.makeFolder(".hidden");
    tree.writeFile("not-a-folder.jpg", "x");

    std::vector<std::string> expected;
    for (const std::string &name : tree.foldersIn(""))
        if (name[0] != '.')
            expected.push_back(name);
    QElapsedTimer clock;
    clock.start();
    std::string root = tree.root();
    std::vector<std::string> listed;
    EXPECT_EQ(listSubFolders(root, listed, false), count);
    std::printf("[ figures  ] listing %d customers: %lld ms\n", count,
                static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(listed, expected);
}
