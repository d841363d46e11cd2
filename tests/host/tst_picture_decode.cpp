// The canvas picture: placement, DCT scale choice, and decoding real JPEG files made by the
// photo-making tool (baseline, progressive, CMYK, greyscale, EXIF-turned, damaged, forged).
#include "host/colour_management.h"
#include "host/jpeg_decoder.h"
#include "host/picture_decode.h"
#include "photo_tree.h"

#include <QImageReader>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

struct PlacementCase {
    QSize picture, area, expected;
};

class Placement : public ::testing::TestWithParam<PlacementCase>
{
};

TEST_P(Placement, CentredNeverEnlargedRoundedDown)
{
    const PlacementCase &c = GetParam();
    EXPECT_EQ(placedPictureSize(c.picture, c.area), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Placement,
    ::testing::Values(PlacementCase{{800, 600}, {1918, 1046}, {800, 600}},     // fits
                      PlacementCase{{1918, 1046}, {1918, 1046}, {1918, 1046}}, // exact fit
                      PlacementCase{{6000, 4000}, {1918, 1046}, {1569, 1046}}, // camera photo
                      PlacementCase{{4000, 6000}, {1918, 1046}, {697, 1046}},  // portrait
                      PlacementCase{{4000, 1000}, {1000, 1000}, {1000, 250}},  // wide
                      PlacementCase{{1000, 3000}, {1000, 1000}, {333, 1000}},  // tall
                      PlacementCase{{2000, 1046}, {1918, 1046}, {1918, 1003}}, // one side over
                      // 69 × 84 / 92 is exactly 63; a floating ratio gives 62.99999…
                      PlacementCase{{92, 69}, {84, 1000}, {84, 63}},
                      PlacementCase{{800, 600}, {0, 0}, {0, 0}}));

TEST(DctScale, SmallestScaleThatStillCoversTheDrawnSize)
{
    struct Case {
        QSize stored, drawn;
        int denominator;
    } cases[] = {
        {{6000, 4000}, {1569, 1046}, 2}, // 1/4 would be 1500 × 1000, short of 1046
        {{8192, 5464}, {1568, 1046}, 4}, {{800, 600}, {800, 600}, 1}, {{8000, 8000}, {100, 100}, 8},
        {{6001, 4001}, {3001, 2001}, 2}, // libjpeg rounds the scaled size up
        {{6000, 4000}, {3001, 1000}, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(jpegScaleDenominator(c.stored, c.drawn), c.denominator)
            << c.stored.width() << "x" << c.stored.height();
    // The placement and the scale together: the photo of the first row on a full-HD canvas.
    EXPECT_EQ(jpegScaleDenominator({6000, 4000}, placedPictureSize({6000, 4000}, {1918, 1046})), 2);
}

TEST(ExifOrientation, ReadsTheTagInBothByteOrdersAndSurvivesDamage)
{
    const std::string little("Exif\0\0II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x06\0\0\0", 28);
    const std::string big("Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x08\0\0", 28);
    auto read = [](const std::string &s) {
        return exifOrientation(reinterpret_cast<const unsigned char *>(s.data()), s.size());
    };
    EXPECT_EQ(read(little), 6);
    EXPECT_EQ(read(big), 8);
    for (size_t cut = 0; cut < little.size(); ++cut)
        EXPECT_EQ(read(little.substr(0, cut)), 1) << cut;
    std::string outOfRange = little;
    outOfRange[24] = 9;
    EXPECT_EQ(read(outOfRange), 1);
    std::string farDirectory = little;
    farDirectory[10] = '\xff';
    farDirectory[13] = '\x7f';
    EXPECT_EQ(read(farDirectory), 1);
}

// ---- decoding real files ----

class PictureDecode : public ::testing::Test
{
  protected:
    PhotoTree tree;

    std::string photo(const std::string &name, int w, int h, std::vector<std::string> options = {})
    {
        std::vector<std::string> args{"photo", tree.path(name), std::to_string(w),
                                      std::to_string(h)};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_TRUE(runMakePhotos(args)) << name;
        return tree.path(name);
    }
};

QColor at(const QImage &image, double fx, double fy)
{
    return image.pixelColor(int(fx * image.width()), int(fy * image.height()));
}

// The tool's scene seen upright: sky at the top, dark ground at the bottom, a red kite at the
// top left.
void expectUprightScene(const QImage &image, const std::string &what)
{
    ASSERT_FALSE(image.isNull()) << what;
    QColor kite = at(image, 0.065, 0.06), sky = at(image, 0.5, 0.02), ground = at(image, 0.5, 0.97);
    EXPECT_GT(kite.red(), 150) << what;
    EXPECT_LT(kite.green(), 100) << what;
    EXPECT_GT(sky.blue(), sky.red() + 60) << what;
    EXPECT_LT(ground.value(), 90) << what;
}

// Mean absolute difference per channel of two pictures of the same size.
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1e9;
    QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum += std::abs(qRed(p[col]) - qRed(q[col])) +
                   std::abs(qGreen(p[col]) - qGreen(q[col])) +
                   std::abs(qBlue(p[col]) - qBlue(q[col]));
    }
    return sum / (3.0 * x.width() * x.height());
}

TEST_F(PictureDecode, ScalesToThePlacedSizeLikeASmoothScaleOfTheWholePhoto)
{
    std::string path = photo("a.jpg", 900, 600);
    QImage whole(QString::fromStdString(path));
    for (QSize area : {QSize(900, 600), QSize(450, 300), QSize(333, 250), QSize(100, 1000)}) {
        CanvasPicture p = decodeCanvasPictureFile(path, area);
        QSize placed = placedPictureSize({900, 600}, area);
        ASSERT_EQ(p.image.size(), placed);
        EXPECT_EQ(p.fullSize, QSize(900, 600));
        QImage expected = whole.scaled(placed, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        // DCT scaling and Qt's filter differ a little on the noise; a wrong weight or a
        // shifted row differs a lot.
        EXPECT_LT(difference(p.image, expected), 4.0) << area.width();
        expectUprightScene(p.image, "area " + std::to_string(area.width()));
    }
}

TEST_F(PictureDecode, CameraPhotoIsDecodedAtHalfScaleForAFullHdCanvas)
{
    std::string path = photo("big.jpg", 6000, 4000);
    std::string bytes = tree.readFile("big.jpg");
    QSize scaled;
    JpegDecodeSteps steps;
    steps.chooseScale = [](const JpegHeader &h) {
        return jpegScaleDenominator(h.size, placedPictureSize(h.size, {1918, 1046}));
    };
    steps.begin = [&](QSize size) {
        scaled = size;
        return false; // the size is all this test wants
    };
    steps.rows = [](const unsigned char *const *, int, int) {};
    decodeJpeg(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), steps);
    EXPECT_EQ(scaled, QSize(3000, 2000));

    CanvasPicture p = decodeCanvasPictureFile(path, {1918, 1046});
    EXPECT_EQ(p.image.size(), QSize(1569, 1046));
    EXPECT_EQ(p.fullSize, QSize(6000, 4000));
    expectUprightScene(p.image, "6000x4000");
}

TEST_F(PictureDecode, ProgressiveCmykAndGreyscaleLookLikeTheBaselinePhoto)
{
    const QSize area(450, 300);
    CanvasPicture baseline = decodeCanvasPictureFile(photo("rgb.jpg", 900, 600), area);
    CanvasPicture progressive =
        decodeCanvasPictureFile(photo("prog.jpg", 900, 600, {"--progressive"}), area);
    CanvasPicture cmyk = decodeCanvasPictureFile(photo("cmyk.jpg", 900, 600, {"--cmyk"}), area);
    CanvasPicture gray = decodeCanvasPictureFile(photo("gray.jpg", 900, 600, {"--gray"}), area);
    expectUprightScene(baseline.image, "baseline");
    EXPECT_LT(difference(progressive.image, baseline.image), 1.5);
    EXPECT_LT(difference(cmyk.image, baseline.image), 4.0); // Adobe's inverted CMYK
    expectUprightScene(cmyk.image, "cmyk");
    ASSERT_EQ(gray.image.size(), baseline.image.size());
    for (double f : {0.06, 0.5, 0.9}) {
        QColor g = at(gray.image, f, f), c = at(baseline.image, f, f);
        EXPECT_EQ(g.red(), g.green());
        EXPECT_EQ(g.green(), g.blue());
        EXPECT_NEAR(g.red(), qGray(c.rgb()), 12);
    }
}

// Every EXIF orientation is shown upright; Qt's own reader, turning by the tag, agrees.
TEST_F(PictureDecode, ExifOrientationShowsThePhotoUpright)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        std::string name = "o" + std::to_string(orientation) + ".jpg";
        std::string path = photo(name, 600, 400, {"--orientation", std::to_string(orientation)});
        bool turned = orientation >= 5;
        QSize upright = turned ? QSize(400, 600) : QSize(600, 400);
        CanvasPicture full = decodeCanvasPictureFile(path, {2000, 2000});
        EXPECT_EQ(full.fullSize, upright) << orientation;
        EXPECT_EQ(full.image.size(), upright) << orientation;
        expectUprightScene(full.image, "orientation " + std::to_string(orientation));
        // Placement uses the upright size: a portrait photo in a landscape area.
        CanvasPicture small = decodeCanvasPictureFile(path, {300, 300});
        EXPECT_EQ(small.image.size(), placedPictureSize(upright, {300, 300})) << orientation;
        expectUprightScene(small.image, "small, orientation " + std::to_string(orientation));

        QImageReader qt(QString::fromStdString(path));
        qt.setAutoTransform(true);
        QImage reference = qt.read();
        EXPECT_EQ(reference.size(), upright) << orientation;
        EXPECT_LT(difference(full.image, reference), 2.0) << orientation;
    }
}

TEST_F(PictureDecode, BadEmptyAndUnreadableFilesGiveNoPicture)
{
    const QSize area(800, 600);
    tree.writeFile("empty.jpg", "");
    tree.writeFile("text.jpg", "this is not a photo at all, just some words");
    tree.writeFile("soi.jpg", std::string("\xff\xd8\xff\xd9", 4));
    tree.makeFolder("folder.jpg");
    for (const char *name : {"empty.jpg", "text.jpg", "soi.jpg", "folder.jpg", "missing.jpg"})
        EXPECT_TRUE(decodeCanvasPictureFile(tree.path(name), area).image.isNull()) << name;
    EXPECT_TRUE(decodeCanvasPicture(nullptr, 0, area).image.isNull());

    // A FIFO under a photo's name is no photo, and reading it must not wait for a writer.
    ASSERT_EQ(::mkfifo(tree.path("pipe.jpg").c_str(), 0644), 0);
    EXPECT_TRUE(decodeCanvasPictureFile(tree.path("pipe.jpg"), area).image.isNull());

    // Over 512 MiB counts as unreadable (a sparse file: no disk needed).
    int fd = ::open(tree.path("huge.jpg").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    std::string small = jpegBytes({16, 16}, Qt::red);
    ASSERT_EQ(::write(fd, small.data(), small.size()), ssize_t(small.size()));
    ASSERT_EQ(::ftruncate(fd, 513LL * 1024 * 1024), 0);
    ::close(fd);
    EXPECT_TRUE(decodeCanvasPictureFile(tree.path("huge.jpg"), area).image.isNull());
}

TEST_F(PictureDecode, TruncatedPhotoShowsWhatDecodedAndNeverCrashes)
{
    for (bool progressive : {false, true}) {
        std::vector<std::string> options;
        if (progressive)
            options.push_back("--progressive");
        std::string path = photo("whole.jpg", 900, 600, options);
        std::string bytes = tree.readFile("whole.jpg");
        CanvasPicture whole = decodeCanvasPictureFile(path, {900, 600});
        // Every cut, from inside the header to the last byte, decodes or refuses cleanly.
        for (size_t cut = 1; cut < bytes.size(); cut += cut < 700 ? 37 : 4999)
            decodeCanvasPicture(reinterpret_cast<const unsigned char *>(bytes.data()), cut,
                                {450, 300});
        std::string half = bytes.substr(0, bytes.size() * 6 / 10);
        CanvasPicture cut = decodeCanvasPicture(
            reinterpret_cast<const unsigned char *>(half.data()), half.size(), {900, 600});
        ASSERT_EQ(cut.image.size(), QSize(900, 600)) << progressive;
        if (!progressive) { // a baseline photo's top rows arrive whole
            EXPECT_LT(difference(cut.image.copy(0, 0, 900, 100), whole.image.copy(0, 0, 900, 100)),
                      0.5);
        }
    }
}

TEST(PictureDecodeLimits, ForgedHugeHeaderIsRefusedBeforeAnyPictureIsMade)
{
    std::string bytes = jpegBytes({64, 48}, Qt::blue);
    // Find the frame header (SOF0/SOF2) and claim 65500 × 65500 pixels.
    size_t sof = std::string::npos;
    for (size_t i = 2; i + 9 < bytes.size(); ++i)
        if (uint8_t(bytes[i]) == 0xff &&
            (uint8_t(bytes[i + 1]) == 0xc0 || uint8_t(bytes[i + 1]) == 0xc2)) {
            sof = i;
            break;
        }
    ASSERT_NE(sof, std::string::npos);
    bytes[sof + 5] = bytes[sof + 7] = char(0xff);
    bytes[sof + 6] = bytes[sof + 8] = char(0xdc);

    bool begun = false;
    JpegDecodeSteps steps;
    steps.chooseScale = [](const JpegHeader &) { return 8; };
    steps.begin = [&](QSize) { return begun = true; };
    steps.rows = [](const unsigned char *const *, int, int) {};
    JpegDecodeResult result =
        decodeJpeg(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), steps);
    EXPECT_EQ(result.outcome, JpegOutcome::refused);
    EXPECT_EQ(result.header.size, QSize(65500, 65500));
    EXPECT_FALSE(begun);
    EXPECT_TRUE(decodeCanvasPicture(reinterpret_cast<const unsigned char *>(bytes.data()),
                                    bytes.size(), {1918, 1046})
                    .image.isNull());
}

// Pictures are drawn from a pool of reused memory: one still held by the canvas or the cache
// must never be overwritten by the next decode, on any thread.
TEST_F(PictureDecode, HeldPicturesStayIntactWhileOthersAreDecodedOnOtherThreads)
{
    const QSize area(300, 200);
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i)
        paths.push_back(
            photo("p" + std::to_string(i) + ".jpg", 600, 400, {"--seed", std::to_string(i + 7)}));
    std::vector<QImage> expected;
    for (const std::string &path : paths)
        expected.push_back(decodeCanvasPictureFile(path, area).image.copy());

    std::vector<QImage> held(paths.size());
    for (size_t i = 0; i < paths.size(); ++i)
        held[i] = decodeCanvasPictureFile(paths[i], area).image;
    std::vector<std::thread> threads;
    std::vector<double> worst(2, 0);
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round)
                for (size_t i = 0; i < paths.size(); ++i) {
                    QImage image =
                        decodeCanvasPictureFile(paths[(i + size_t(t)) % paths.size()], area).image;
                    worst[size_t(t)] =
                        std::max(worst[size_t(t)],
                                 difference(image, expected[(i + size_t(t)) % paths.size()]));
                }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(worst[0], 0.0);
    EXPECT_EQ(worst[1], 0.0);
    for (size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(difference(held[i], expected[i]), 0.0) << i;
}

} // namespace

namespace
{

// The JPEG with an ICC profile carried in one APP2 segment right after its start marker.
std::string withIccProfile(const std::string &jpeg, const std::string &profile)
{
    std::string payload = std::string("ICC_PROFILE\0\x01\x01", 14) + profile;
    size_t length = payload.size() + 2;
    std::string segment = std::string("\xff\xe2", 2) + char(length >> 8) + char(length & 0xff);
    return jpeg.substr(0, 2) + segment + payload + jpeg.substr(2);
}

} // namespace

TEST(PictureDecodeColour, EmbeddedProfileIsConvertedToTheDisplayColours)
{
    std::string plain = jpegBytes({64, 48}, QColor(40, 160, 60));
    std::string tagged = withIccProfile(plain, adobeRgbIccProfile());
    auto centre = [](const std::string &bytes) {
        CanvasPicture p = decodeCanvasPicture(reinterpret_cast<const unsigned char *>(bytes.data()),
                                              bytes.size(), {64, 48});
        return p.image.isNull() ? QColor() : p.image.pixelColor(32, 24);
    };
    QColor untouched = centre(plain), converted = centre(tagged);
    ASSERT_TRUE(untouched.isValid());
    ASSERT_TRUE(converted.isValid());
    // Adobe RGB's green is wider than sRGB's: the same numbers mean a more saturated green.
    EXPECT_GT(untouched.red() - converted.red() + converted.green() - untouched.green(), 10)
        << untouched.name().toStdString() << " " << converted.name().toStdString();
}
