// Photos with an embedded ICC profile are shown in the display's colours; the expectations are
// worked out here from the colour spaces' primaries, independently of the library that converts.
#include "host/colour_management.h"

#include <lcms2.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

namespace
{

using Rgb = std::array<int, 3>;
using Vector = std::array<double, 3>;
using Matrix = std::array<Vector, 3>;

struct ColourSpace {
    double primaries[3][2]; // xy of red, green, blue
    double white[2];
    double (*decode)(double);
    double (*encode)(double);
};

double adobeDecode(double v)
{
    return std::pow(v, 563.0 / 256.0);
}
double adobeEncode(double v)
{
    return std::pow(v, 256.0 / 563.0);
}
double srgbDecode(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double srgbEncode(double v)
{
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

const ColourSpace adobeRgb{
    {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, {0.3127, 0.3290}, adobeDecode, adobeEncode};
const ColourSpace srgb{
    {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, {0.3127, 0.3290}, srgbDecode, srgbEncode};

Vector times(const Matrix &m, const Vector &v)
{
    Vector r{};
    for (int i = 0; i < 3; ++i)
        r[i] = m[i][0] * v[0] + m[i][1] * v[1] + m[i][2] * v[2];
    return r;
}

Matrix inverse(const Matrix &m)
{
    double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                 m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                 m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    Matrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const Vector &a = m[(j + 1) % 3], &b = m[(j + 2) % 3];
            r[i][j] = (a[(i + 1) % 3] * b[(i + 2) % 3] - a[(i + 2) % 3] * b[(i + 1) % 3]) / det;
        }
    return r;
}

// Linear RGB to XYZ: the primaries scaled so that full RGB is the white point.
Matrix rgbToXyz(const ColourSpace &space)
{
    auto xyz = [](double x, double y) { return Vector{x / y, 1.0, (1 - x - y) / y}; };
    Matrix columns{};
    for (int c = 0; c < 3; ++c) {
        Vector p = xyz(space.primaries[c][0], space.primaries[c][1]);
        for (int i = 0; i < 3; ++i)
            columns[i][c] = p[i];
    }
    Vector scale = times(inverse(columns), xyz(space.white[0], space.white[1]));
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
            columns[i][c] *= scale[c];
    return columns;
}

// Relative colorimetric, clipped to the target's gamut: what a display shows of the colour.
Rgb expectedColour(Rgb value, const ColourSpace &from, const ColourSpace &to)
{
    Vector linear;
    for (int c = 0; c < 3; ++c)
        linear[c] = from.decode(value[c] / 255.0);
    Vector target = times(inverse(rgbToXyz(to)), times(rgbToXyz(from), linear));
    Rgb result;
    for (int c = 0; c < 3; ++c)
        result[c] = int(std::lround(to.encode(std::clamp(target[c], 0.0, 1.0)) * 255));
    return result;
}

std::string savedProfile(cmsHPROFILE profile)
{
    std::string bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size)) {
        bytes.resize(size);
        cmsSaveProfileToMem(profile, bytes.data(), &size);
    }
    cmsCloseProfile(profile);
    return bytes;
}

// Made here with lcms directly, as a camera or an editor would embed it.
std::string testAdobeRgbProfile()
{
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    std::string bytes = savedProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(gamma);
    return bytes;
}

std::string srgbProfile()
{
    return savedProfile(cmsCreate_sRGBProfile());
}

// A profile whose table (A2B0) says Adobe RGB while its colorant and curve tags say sRGB: the
// table is what counts for a conversion from it, as lcms reads it.
std::string tableProfileSayingAdobeRgb()
{
    cmsHPROFILE adobe = cmsOpenProfileFromMem(adobeRgbIccProfile().data(),
                                              cmsUInt32Number(adobeRgbIccProfile().size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(adobe, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsPipeline *table = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage *grid = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(
        grid,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void *transform) {
            cmsDoTransform(transform, in, out, 1);
            return 1;
        },
        toLab, 0);
    // The table type wants curves before and after the grid; identity ones here.
    cmsPipelineInsertStage(table, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsPipelineInsertStage(table, cmsAT_END, grid);
    cmsPipelineInsertStage(table, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsSetProfileVersion(profile, 4.3);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigAToB0Tag, table);
    cmsPipelineFree(table);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(adobe);
    return savedProfile(profile);
}

const std::vector<Rgb> samples{{0, 255, 0},     {0, 128, 0},     {100, 180, 100}, {200, 60, 40},
                               {30, 90, 200},   {128, 128, 128}, {255, 255, 255}, {0, 0, 0},
                               {250, 240, 230}, {5, 10, 20}};

QImage imageOf(const std::vector<Rgb> &pixels, QImage::Format format)
{
    QImage image(int(pixels.size()), 1, format);
    for (int x = 0; x < image.width(); ++x)
        image.setPixelColor(x, 0, QColor(pixels[x][0], pixels[x][1], pixels[x][2]));
    return image;
}

Rgb pixelAt(const QImage &image, int x)
{
    QColor c = image.pixelColor(x, 0);
    return {c.red(), c.green(), c.blue()};
}

void expectColoursNear(const QImage &image, const std::vector<Rgb> &expected, int tolerance)
{
    for (int x = 0; x < image.width(); ++x) {
        Rgb got = pixelAt(image, x);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(got[c], expected[x][c], tolerance)
                << "pixel " << x << " channel " << c << " got " << got[0] << "," << got[1] << ","
                << got[2] << " expected " << expected[x][0] << "," << expected[x][1] << ","
                << expected[x][2];
    }
}

// A moderately sized photo-like image with every kind of pixel.
QImage noiseImage(QImage::Format format, int width = 257, int height = 33)
{
    QImage image(width, height, format);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(random() & 255, random() & 255, random() & 255));
    return image;
}

class ColourManagement : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        setDisplayColourProfile({});
        setColourManagementEnabled(true);
    }
};

struct Layout {
    QImage::Format format;
    const char *name;
};

class ColourManagementByFormat : public ColourManagement,
                                 public ::testing::WithParamInterface<Layout>
{
};

} // namespace

TEST_P(ColourManagementByFormat, AdobeRgbPhotoIsShownInSrgb)
{
    std::vector<Rgb> expected;
    for (const Rgb &sample : samples)
        expected.push_back(expectedColour(sample, adobeRgb, srgb));
    // The saturated green lies outside sRGB and is clipped; the muted one is really changed.
    EXPECT_EQ(expected[0], (Rgb{0, 255, 0}));
    EXPECT_NE(expected[2], samples[2]);

    // lcms' gamma 2.2 and the exact 563/256 differ by well under a level.
    for (const std::string &profile : {testAdobeRgbProfile(), adobeRgbIccProfile()}) {
        QImage image = imageOf(samples, GetParam().format);
        ASSERT_TRUE(convertToDisplayColours(image, profile));
        EXPECT_EQ(image.format(), GetParam().format);
        expectColoursNear(image, expected, 2);
    }
}

TEST_P(ColourManagementByFormat, SrgbPhotoOnSrgbDisplayKeepsItsPixels)
{
    QImage image = noiseImage(GetParam().format);
    QImage original = image.copy();
    EXPECT_TRUE(convertToDisplayColours(image, srgbProfile()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor a = image.pixelColor(x, y), b = original.pixelColor(x, y);
            ASSERT_LE(std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                          std::abs(a.blue() - b.blue()),
                      1)
                << x << "," << y;
        }
}

TEST_P(ColourManagementByFormat, AdobeRgbDisplayShowsSrgbPhotosInItsColours)
{
    setDisplayColourProfile(testAdobeRgbProfile());
    std::vector<Rgb> expected;
    for (const Rgb &sample : samples)
        expected.push_back(expectedColour(sample, srgb, adobeRgb));
    EXPECT_NE(expected[0], samples[0]); // sRGB green is a duller green in Adobe RGB

    QImage image = imageOf(samples, GetParam().format);
    ASSERT_TRUE(convertToDisplayColours(image, srgbProfile()));
    expectColoursNear(image, expected, 2);

    // A photo in the display's own colours is left as it is.
    QImage adobe = imageOf(samples, GetParam().format);
    EXPECT_TRUE(convertToDisplayColours(adobe, adobeRgbIccProfile()));
    expectColoursNear(adobe, samples, 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, ColourManagementByFormat,
                         ::testing::Values(Layout{QImage::Format_RGB32, "RGB32"},
                                           Layout{QImage::Format_ARGB32, "ARGB32"},
                                           Layout{QImage::Format_RGB888, "RGB888"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Not a matrix/curve conversion: lcms' general path converts it.
TEST_F(ColourManagement, TableProfileIsConvertedByItsTable)
{
    std::vector<Rgb> expected;
    for (const Rgb &sample : samples)
        expected.push_back(expectedColour(sample, adobeRgb, srgb));
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
        QImage image = imageOf(samples, format);
        ASSERT_TRUE(convertToDisplayColours(image, tableProfileSayingAdobeRgb()));
        // A grid of 33 steps is itself a few levels off next to the gamut's edge; the colorants
        // would have left the pixels as they were, tens of levels away.
        expectColoursNear(image, expected, 6);
    }
}

// Through the tables (Adobe RGB) and through lcms (the table profile) alike.
TEST_F(ColourManagement, AlphaIsKept)
{
    Rgb expected = expectedColour({100, 180, 100}, adobeRgb, srgb);
    for (const std::string &profile : {adobeRgbIccProfile(), tableProfileSayingAdobeRgb()}) {
        QImage image(2, 1, QImage::Format_ARGB32);
        image.setPixelColor(0, 0, QColor(100, 180, 100, 0));
        image.setPixelColor(1, 0, QColor(100, 180, 100, 77));
        ASSERT_TRUE(convertToDisplayColours(image, profile));
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        EXPECT_EQ(image.pixelColor(1, 0).alpha(), 77);
        EXPECT_NEAR(image.pixelColor(1, 0).green(), expected[1], 6);
    }
}

TEST_F(ColourManagement, UnusableProfileLeavesThePhoto)
{
    std::string adobe = adobeRgbIccProfile();
    std::string corruptTags = adobe;
    for (size_t i = 132; i < std::min<size_t>(corruptTags.size(), 400); ++i)
        corruptTags[i] = char(0xff); // the tag table: offsets and sizes far beyond the end
    std::string lying = adobe; // the header's size field says 200 bytes: every tag lies beyond
    lying.replace(0, 4, std::string("\0\0\0\xc8", 4));
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    std::string grey = savedProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
    cmsFreeToneCurve(gamma);
    std::string lab = savedProfile(cmsCreateLab4Profile(nullptr));
    cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(cmyk, cmsSigOutputClass);
    cmsSetColorSpace(cmyk, cmsSigCmykData);
    cmsSetPCS(cmyk, cmsSigLabData);
    std::string cmykBytes = savedProfile(cmyk);
    cmsHPROFILE abstractProfile = cmsCreateBCHSWabstractProfile(17, 0, 1.2, 0, 0, 6504, 6504);
    std::string abstract = savedProfile(abstractProfile);

    struct Case {
        const char *name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"text", "this is no colour profile at all"},
        {"header only", adobe.substr(0, 128)},
        {"truncated", adobe.substr(0, adobe.size() / 2)},
        {"corrupt tag table", corruptTags},
        {"lying size", lying},
        {"grey profile", grey},
        {"Lab profile", lab},
        {"CMYK profile", cmykBytes},
        {"abstract profile", abstract},
    };
    for (const Case &c : cases) {
        ASSERT_FALSE(c.bytes.empty() && std::string(c.name) != "empty") << c.name;
        for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
            QImage image = noiseImage(format, 16, 4);
            QImage original = image.copy();
            EXPECT_FALSE(convertToDisplayColours(image, c.bytes)) << c.name;
            EXPECT_EQ(image, original) << c.name;
        }
    }
}

TEST_F(ColourManagement, OtherFormatsAndSwitchedOffLeaveThePhoto)
{
    for (QImage::Format format : {QImage::Format_Grayscale8, QImage::Format_ARGB32_Premultiplied,
                                  QImage::Format_RGBX8888}) {
        QImage image = noiseImage(format, 16, 4);
        QImage original = image.copy();
        EXPECT_FALSE(convertToDisplayColours(image, adobeRgbIccProfile())) << format;
        EXPECT_EQ(image, original);
    }
    QImage null;
    EXPECT_FALSE(convertToDisplayColours(null, adobeRgbIccProfile()));

    setColourManagementEnabled(false);
    QImage image = imageOf(samples, QImage::Format_RGB32);
    EXPECT_FALSE(convertToDisplayColours(image, adobeRgbIccProfile()));
    EXPECT_EQ(image, imageOf(samples, QImage::Format_RGB32));
}

// Bytes that are almost a profile: random damage must never bring the process down.
TEST_F(ColourManagement, DamagedProfilesNeverCrash)
{
    std::string adobe = adobeRgbIccProfile();
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        std::string bytes = adobe;
        int damage = 1 + int(random() % 8);
        for (int i = 0; i < damage; ++i)
            bytes[random() % bytes.size()] = char(random());
        if (round % 5 == 0)
            bytes.resize(random() % bytes.size());
        QImage image = noiseImage(QImage::Format_RGB32, 8, 2);
        convertToDisplayColours(image, bytes);
    }
}

TEST_F(ColourManagement, TransformsAreBuiltOncePerProfileAndDisplay)
{
    setDisplayColourProfile({}); // starts with an empty cache
    std::string profile = testAdobeRgbProfile();
    size_t before = colourTransformsBuilt();
    QImage first = imageOf(samples, QImage::Format_RGB32);
    ASSERT_TRUE(convertToDisplayColours(first, profile));
    EXPECT_EQ(colourTransformsBuilt(), before + 1);

    std::string sameBytes(profile.begin(), profile.end()); // another copy: keyed by content
    QImage second = imageOf(samples, QImage::Format_RGB32);
    ASSERT_TRUE(convertToDisplayColours(second, sameBytes));
    EXPECT_EQ(colourTransformsBuilt(), before + 1);
    EXPECT_EQ(first, second);

    QImage packed = imageOf(samples, QImage::Format_RGB888);
    convertToDisplayColours(packed, profile); // another pixel layout, another transform
    QImage srgbTagged = imageOf(samples, QImage::Format_RGB32);
    convertToDisplayColours(srgbTagged, srgbProfile());
    EXPECT_EQ(colourTransformsBuilt(), before + 3);

    // A new display profile needs new transforms (setting it checks it with one of its own).
    setDisplayColourProfile(adobeRgbIccProfile());
    size_t afterDisplay = colourTransformsBuilt();
    QImage again = imageOf(samples, QImage::Format_RGB32);
    convertToDisplayColours(again, profile);
    EXPECT_EQ(colourTransformsBuilt(), afterDisplay + 1);
}

TEST_F(ColourManagement, UnusableDisplayProfileMeansSrgb)
{
    for (const std::string &display : {std::string("garbage"), std::string()}) {
        setDisplayColourProfile(display);
        QImage image = imageOf(samples, QImage::Format_RGB32);
        ASSERT_TRUE(convertToDisplayColours(image, adobeRgbIccProfile()));
        std::vector<Rgb> expected;
        for (const Rgb &sample : samples)
            expected.push_back(expectedColour(sample, adobeRgb, srgb));
        expectColoursNear(image, expected, 2);
    }
}

TEST_F(ColourManagement, NoX11DisplayMeansSrgb)
{
    EXPECT_EQ(readDisplayIccProfile(), ""); // offscreen
    loadDisplayColourProfile();
    QImage image = noiseImage(QImage::Format_RGB32);
    QImage original = image.copy();
    EXPECT_TRUE(convertToDisplayColours(image, srgbProfile()));
    EXPECT_EQ(image, original);
}

// The decode workers convert at the same time with shared transforms, while the cache fills.
TEST_F(ColourManagement, ConcurrentConversionsAgreeWithASingleOne)
{
    const std::string profiles[] = {testAdobeRgbProfile(), adobeRgbIccProfile(), srgbProfile()};
    std::vector<QImage> expected;
    for (const std::string &profile : profiles) {
        QImage image = noiseImage(QImage::Format_RGB32, 300, 200);
        convertToDisplayColours(image, profile);
        expected.push_back(image);
    }
    setDisplayColourProfile({}); // empty cache again
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 12; ++round) {
                size_t which = size_t(t + round) % 3;
                QImage image = noiseImage(QImage::Format_RGB32, 300, 200);
                convertToDisplayColours(image, profiles[which]);
                if (image != expected[which])
                    ++mismatches;
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, 0);
}
