// Pictures decoded ahead are handed out only while the file is still the one decoded.
#include "host/picture_cache.h"
#include "photo_tree.h"

#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace
{

const QSize area(800, 600);

QColor centreOf(const CanvasPicture &picture)
{
    return picture.image.pixelColor(picture.image.width() / 2, picture.image.height() / 2);
}

// Waits until the workers have had time to decode what was asked for (they are quick on these
// small photos); the assertions below hold whether or not they finished.
void letWorkersRun()
{
    QThread::msleep(150);
}

} // namespace

TEST(PictureCache, ReplacedFileIsDecodedAfresh)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg", QSize(200, 100), Qt::red);
    tree.writePhoto("b.jpg", QSize(200, 100), Qt::green);
    tree.writePhoto("c.jpg", QSize(200, 100), Qt::blue);
    PictureCache cache;
    EXPECT_GT(centreOf(cache.picture(tree.path("a.jpg"), area)).red(), 200);
    cache.prefetch({tree.path("b.jpg"), tree.path("c.jpg")}, tree.path("a.jpg"), area);
    letWorkersRun();

    // Another program replaces b.jpg by a photo of the same size and modification time.
    struct stat before {
    };
    ::stat(tree.path("b.jpg").c_str(), &before);
    tree.writePhoto("new.jpg", QSize(200, 100), Qt::yellow);
    timespec times[2] = {before.st_mtim, before.st_mtim};
    ::utimensat(AT_FDCWD, tree.path("new.jpg").c_str(), times, 0);
    ::rename(tree.path("new.jpg").c_str(), tree.path("b.jpg").c_str());
    QColor b = centreOf(cache.picture(tree.path("b.jpg"), area));
    EXPECT_GT(b.red(), 200);
    EXPECT_GT(b.green(), 200);

    // Rewritten in place: another size.
    tree.writePhoto("c.jpg", QSize(300, 100), Qt::red);
    CanvasPicture c = cache.picture(tree.path("c.jpg"), area);
    EXPECT_EQ(c.fullSize, QSize(300, 100));

    ::unlink(tree.path("a.jpg").c_str());
    EXPECT_TRUE(cache.picture(tree.path("a.jpg"), area).image.isNull());
}

TEST(PictureCache, PrefetchedPictureMatchesADirectDecode)
{
    PhotoTree tree;
    tree.writePhoto("a.jpg", QSize(1600, 1200), Qt::darkCyan);
    PictureCache cache;
    cache.prefetch({tree.path("a.jpg")}, {}, area);
    letWorkersRun();
    CanvasPicture ahead = cache.picture(tree.path("a.jpg"), area);
    CanvasPicture direct = decodePhotoFile(tree.path("a.jpg"), area);
    EXPECT_EQ(ahead.fullSize, direct.fullSize);
    EXPECT_EQ(ahead.image, direct.image);
}

TEST(PictureCache, StopsWhileDecodingAndRefusesFifos)
{
    PhotoTree tree;
    for (int i = 0; i < 4; ++i)
        tree.writePhoto("p" + std::to_string(i) + ".jpg", QSize(3000, 2000), Qt::gray);
    ::mkfifo(tree.path("fifo.jpg").c_str(), 0644);
    auto cache = std::make_unique<PictureCache>();
    cache->prefetch({tree.path("fifo.jpg"), tree.path("p0.jpg"), tree.path("p1.jpg")}, {}, area);
    EXPECT_TRUE(cache->picture(tree.path("fifo.jpg"), area).image.isNull());
    cache->prefetch({tree.path("p2.jpg"), tree.path("p3.jpg")}, {}, area);
    cache.reset(); // joins the workers; a decode in progress finishes
}
