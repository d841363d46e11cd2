// The one wrapper around Little CMS 2. Conversions live in a cache keyed by the embedded profile's
// bytes and are shared by the decode threads. The common case, two matrix/curve profiles, runs
// on tables of our own that are checked against lcms when they are built; lcms transforms do the
// rest, built without their per-transform pixel cache (cmsFLAGS_NOCACHE), the only state
// cmsDoTransform would otherwise write, so one transform may run on several threads at once.
// Building and the cache are guarded by one mutex: lcms profiles are only ever touched by the
// thread that holds it.
#include "host/colour_management.h"

#include <lcms2.h>

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

// lcms reports the faults of hostile profiles here as well as through its results; the results
// are what we act on, so the messages are dropped.
void dropLcmsError(cmsContext, cmsUInt32Number, const char *)
{
}

// A context of our own keeps the error handler (and any plug-in) out of lcms' global state.
cmsContext lcmsContext()
{
    static const cmsContext context = [] {
        cmsContext created = cmsCreateContext(nullptr, nullptr);
        cmsSetLogErrorHandlerTHR(created, dropLcmsError);
        return created;
    }();
    return context;
}

struct ProfileCloser {
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// A profile embedded in a JPEG spans at most 255 APP2 segments of 64 KB.
constexpr size_t largestProfile = 16u << 20;

// Empty bytes are sRGB. Null when the bytes are no RGB profile that can take part in a transform
// between two RGB images (device links, abstract and named-colour profiles cannot).
Profile openRgbProfile(const std::string &iccBytes)
{
    if (iccBytes.empty())
        return Profile(cmsCreate_sRGBProfileTHR(lcmsContext()));
    if (iccBytes.size() > largestProfile)
        return nullptr;
    Profile profile(cmsOpenProfileFromMemTHR(lcmsContext(), iccBytes.data(),
                                             static_cast<cmsUInt32Number>(iccBytes.size())));
    if (!profile || cmsGetColorSpace(profile.get()) != cmsSigRgbData)
        return nullptr;
    cmsProfileClassSignature deviceClass = cmsGetDeviceClass(profile.get());
    if (deviceClass == cmsSigLinkClass || deviceClass == cmsSigAbstractClass ||
        deviceClass == cmsSigNamedColorClass)
        return nullptr;
    return profile;
}

enum PixelLayout { fourBytes, threeBytes, layoutCount };

// QImage's 32-bit formats hold 0xAARRGGBB in native byte order.
constexpr cmsUInt32Number fourByteFormat =
    Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;

// Where red, green and blue sit in a pixel of each layout.
struct ChannelOffsets {
    size_t red, green, blue, step;
};

ChannelOffsets channelOffsets(PixelLayout layout)
{
    if (layout == threeBytes)
        return {0, 1, 2, 3};
    return fourByteFormat == TYPE_BGRA_8 ? ChannelOffsets{2, 1, 0, 4} : ChannelOffsets{1, 2, 3, 4};
}

// A conversion between two matrix/curve profiles (Adobe RGB, sRGB, Display P3, ProPhoto and most
// display profiles) is a curve per channel, a 3x3 matrix and a curve per channel back. Done here
// with tables it runs about three times as fast as lcms' general 8-bit path.
class MatrixShaper
{
  public:
    // Null unless both profiles are matrix/curve RGB profiles.
    static std::unique_ptr<MatrixShaper> make(cmsHPROFILE source, cmsHPROFILE target);

    void convert(uint8_t *pixels, int width, int height, size_t lineBytes, ChannelOffsets at) const
    {
        // Locals, since the pixel stores could alias members as far as the compiler knows.
        const size_t red = at.red, green = at.green, blue = at.blue, step = at.step;
        float m[3][3];
        std::copy(&matrix_[0][0], &matrix_[0][0] + 9, &m[0][0]);
        for (int y = 0; y < height; ++y) {
            uint8_t *p = pixels + size_t(y) * lineBytes;
            for (int x = 0; x < width; ++x, p += step) {
                float r = toLinear_[0][p[red]];
                float g = toLinear_[1][p[green]];
                float b = toLinear_[2][p[blue]];
                uint8_t outRed = encode(0, m[0][0] * r + m[0][1] * g + m[0][2] * b);
                uint8_t outGreen = encode(1, m[1][0] * r + m[1][1] * g + m[1][2] * b);
                uint8_t outBlue = encode(2, m[2][0] * r + m[2][1] * g + m[2][2] * b);
                p[red] = outRed;
                p[green] = outGreen;
                p[blue] = outBlue;
            }
        }
    }

  private:
    // The back curves are tabled over the bits of the linear value as a float: steps of 1/1024
    // of the value itself, so as fine near black, where gamma curves are steepest, as near white,
    // and no square root or logarithm per pixel. Values below 2^-24 count as black.
    static constexpr int mantissaBits = 10;
    static constexpr int exponents = 24;
    static constexpr uint32_t smallestBits = uint32_t(127 - exponents) << 23; // 2^-24
    static constexpr size_t encodeSteps = size_t(exponents) << mantissaBits;

    static float stepValue(size_t step)
    {
        return std::bit_cast<float>(smallestBits + uint32_t(step << (23 - mantissaBits)));
    }

    uint8_t encode(int channel, float linear) const
    {
        // Clamped as integers, which compiles without branches (a negative float is a negative
        // integer; 64 bits so that none overflows); a branch here mispredicts on every
        // out-of-gamut colour.
        constexpr int shift = 23 - mantissaBits;
        int64_t bits = int64_t(std::bit_cast<int32_t>(linear)) - smallestBits + (1 << (shift - 1));
        bits = std::min<int64_t>(std::max<int64_t>(bits, 0), int64_t(encodeSteps) << shift);
        return fromLinear_[channel][bits >> shift];
    }

    float toLinear_[3][256];
    float matrix_[3][3];
    uint8_t fromLinear_[3][encodeSteps + 1];
};

using Matrix3 = std::array<std::array<double, 3>, 3>;

// The colorants of a matrix/curve profile: linear RGB to the connection space's XYZ by columns.
bool readColorants(cmsHPROFILE profile, Matrix3 &matrix)
{
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                     cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, tags[c]));
        if (!xyz)
            return false;
        matrix[0][c] = xyz->X;
        matrix[1][c] = xyz->Y;
        matrix[2][c] = xyz->Z;
    }
    return true;
}

bool invert(const Matrix3 &m, Matrix3 &inverse)
{
    double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                 m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                 m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::abs(det) < 1e-9)
        return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const auto &a = m[(j + 1) % 3], &b = m[(j + 2) % 3];
            inverse[i][j] =
                (a[(i + 1) % 3] * b[(i + 2) % 3] - a[(i + 2) % 3] * b[(i + 1) % 3]) / det;
        }
    return true;
}

const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};

std::unique_ptr<MatrixShaper> MatrixShaper::make(cmsHPROFILE source, cmsHPROFILE target)
{
    if (!cmsIsMatrixShaper(source) || !cmsIsMatrixShaper(target))
        return nullptr;
    Matrix3 sourceColorants, targetColorants, toTarget;
    if (!readColorants(source, sourceColorants) || !readColorants(target, targetColorants) ||
        !invert(targetColorants, toTarget))
        return nullptr;
    auto shaper = std::make_unique<MatrixShaper>();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += toTarget[i][k] * sourceColorants[k][j];
            shaper->matrix_[i][j] = float(sum);
        }
    for (int c = 0; c < 3; ++c) {
        auto *in = static_cast<const cmsToneCurve *>(cmsReadTag(source, curveTags[c]));
        auto *out = static_cast<const cmsToneCurve *>(cmsReadTag(target, curveTags[c]));
        if (!in || !out)
            return nullptr;
        for (int v = 0; v < 256; ++v)
            shaper->toLinear_[c][v] = cmsEvalToneCurveFloat(in, v / 255.0f);
        std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)> back(cmsReverseToneCurve(out),
                                                                        cmsFreeToneCurve);
        if (!back)
            return nullptr;
        for (size_t i = 0; i <= encodeSteps; ++i) {
            float value = cmsEvalToneCurveFloat(back.get(), stepValue(i));
            shaper->fromLinear_[c][i] = uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255));
        }
    }
    return shaper;
}

struct Transform {
    cmsHTRANSFORM handle = nullptr;
    std::unique_ptr<MatrixShaper> fast; // when it agrees with lcms
    // The conversion changes no pixel by more than one level: an sRGB-tagged photo on an sRGB
    // display. The pixels are then left alone, which is both faster and exact.
    bool identity = false;

    Transform() = default;
    Transform(const Transform &) = delete;
    Transform &operator=(const Transform &) = delete;
    ~Transform()
    {
        if (handle)
            cmsDeleteTransform(handle);
    }
};

// Pixels that probe a conversion: a grid through the colour cube and the whole grey ramp.
std::vector<uint8_t> probePixels(PixelLayout layout)
{
    std::vector<uint8_t> colours; // red, green, blue
    for (int r = 0; r <= 255; r += 15)
        for (int g = 0; g <= 255; g += 15)
            for (int b = 0; b <= 255; b += 15)
                colours.insert(colours.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    for (int v = 0; v <= 255; ++v)
        colours.insert(colours.end(), {uint8_t(v), uint8_t(v), uint8_t(v)});
    ChannelOffsets at = channelOffsets(layout);
    size_t count = colours.size() / 3;
    std::vector<uint8_t> pixels(count * at.step, 255);
    for (size_t i = 0; i < count; ++i) {
        pixels[i * at.step + at.red] = colours[i * 3];
        pixels[i * at.step + at.green] = colours[i * 3 + 1];
        pixels[i * at.step + at.blue] = colours[i * 3 + 2];
    }
    return pixels;
}

// The probe pixels as lcms converts them in floating point, clipped and rounded: the measure for
// the fast path and for telling an identity.
std::vector<uint8_t> exactlyConverted(cmsHPROFILE source, cmsHPROFILE target,
                                      cmsUInt32Number intent, PixelLayout layout)
{
    std::vector<uint8_t> pixels = probePixels(layout);
    ChannelOffsets at = channelOffsets(layout);
    size_t count = pixels.size() / at.step;
    cmsHTRANSFORM exact = cmsCreateTransformTHR(lcmsContext(), source, TYPE_RGB_FLT, target,
                                                TYPE_RGB_FLT, intent, cmsFLAGS_NOCACHE);
    if (!exact)
        return {};
    std::vector<float> in(count * 3), out(count * 3);
    for (size_t i = 0; i < count; ++i) {
        in[i * 3] = pixels[i * at.step + at.red] / 255.0f;
        in[i * 3 + 1] = pixels[i * at.step + at.green] / 255.0f;
        in[i * 3 + 2] = pixels[i * at.step + at.blue] / 255.0f;
    }
    cmsDoTransform(exact, in.data(), out.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(exact);
    auto level = [](float v) { return uint8_t(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); };
    for (size_t i = 0; i < count; ++i) {
        pixels[i * at.step + at.red] = level(out[i * 3]);
        pixels[i * at.step + at.green] = level(out[i * 3 + 1]);
        pixels[i * at.step + at.blue] = level(out[i * 3 + 2]);
    }
    return pixels;
}

// No colour of the two differs by more than one level.
bool nearlyEqual(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::abs(int(a[i]) - int(b[i])) > 1)
            return false;
    return true;
}

std::atomic<size_t> transformsBuilt{0};

// Null when either profile is unusable or lcms finds no way between them. The conversion is, in
// order of preference: none (an identity), the matrix/curve tables, lcms' own 8-bit transform.
std::shared_ptr<const Transform> buildTransform(const std::string &embeddedIcc,
                                                const std::string &displayIcc, PixelLayout layout)
{
    Profile source = openRgbProfile(embeddedIcc);
    Profile target = openRgbProfile(displayIcc);
    if (!source || !target)
        return nullptr;
    // Perceptual suits photos; a profile that lacks its tables falls back to colorimetric.
    std::vector<uint8_t> exact;
    cmsUInt32Number intent = INTENT_PERCEPTUAL;
    for (cmsUInt32Number tried : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC}) {
        intent = tried;
        exact = exactlyConverted(source.get(), target.get(), intent, layout);
        if (!exact.empty())
            break;
    }
    if (exact.empty())
        return nullptr;
    auto transform = std::make_shared<Transform>();
    std::vector<uint8_t> probe = probePixels(layout);
    transform->identity = nearlyEqual(exact, probe);
    if (transform->identity) {
        ++transformsBuilt;
        return transform;
    }
    transform->fast = MatrixShaper::make(source.get(), target.get());
    if (transform->fast) {
        ChannelOffsets at = channelOffsets(layout);
        transform->fast->convert(probe.data(), int(probe.size() / at.step), 1, probe.size(), at);
        if (nearlyEqual(probe, exact)) {
            ++transformsBuilt;
            return transform;
        }
        transform->fast.reset();
    }
    cmsUInt32Number format = layout == fourBytes ? fourByteFormat : TYPE_RGB_8;
    cmsUInt32Number flags = cmsFLAGS_NOCACHE | (layout == fourBytes ? cmsFLAGS_COPY_ALPHA : 0);
    transform->handle = cmsCreateTransformTHR(lcmsContext(), source.get(), format, target.get(),
                                              format, intent, flags);
    if (!transform->handle)
        return nullptr;
    ++transformsBuilt;
    return transform;
}

struct CacheEntry {
    std::shared_ptr<const Transform> transforms[layoutCount];
    bool built[layoutCount] = {}; // a null transform after building: the profile is unusable
};

// Photos of one studio carry a handful of profiles; the bounds only stop a stream of distinct
// (hostile) profiles from growing the cache, which holds each profile's bytes as its key.
constexpr size_t largestCacheCount = 32;
constexpr size_t largestCacheBytes = 16u << 20;

struct ColourState {
    std::mutex mutex;
    std::string displayIcc; // empty: sRGB
    std::unordered_map<std::string, CacheEntry> cache;
    size_t cacheBytes = 0;

    void clearCache()
    {
        cache.clear(); // transforms in use stay alive through their shared pointers
        cacheBytes = 0;
    }
};

ColourState &colourState()
{
    static ColourState state;
    return state;
}

std::atomic<bool> enabled{true};

std::shared_ptr<const Transform> transformFor(const std::string &embeddedIcc, PixelLayout layout)
{
    ColourState &state = colourState();
    std::lock_guard lock(state.mutex);
    auto found = state.cache.find(embeddedIcc);
    if (found == state.cache.end()) {
        if (state.cache.size() >= largestCacheCount ||
            state.cacheBytes + embeddedIcc.size() > largestCacheBytes)
            state.clearCache();
        found = state.cache.emplace(embeddedIcc, CacheEntry{}).first;
        state.cacheBytes += embeddedIcc.size();
    }
    CacheEntry &entry = found->second;
    if (!entry.built[layout]) {
        entry.transforms[layout] = buildTransform(embeddedIcc, state.displayIcc, layout);
        entry.built[layout] = true;
    }
    return entry.transforms[layout];
}

} // namespace

void setDisplayColourProfile(const std::string &iccBytes)
{
    // A display profile is only usable when something can be converted into it.
    std::string display = iccBytes;
    if (!display.empty() && !buildTransform({}, display, fourBytes))
        display.clear();
    ColourState &state = colourState();
    std::lock_guard lock(state.mutex);
    state.displayIcc = std::move(display);
    state.clearCache();
}

void loadDisplayColourProfile()
{
    setDisplayColourProfile(readDisplayIccProfile());
}

bool convertToDisplayColours(QImage &image, const std::string &embeddedIcc)
{
    if (embeddedIcc.empty() || image.isNull() || !enabled)
        return false;
    PixelLayout layout;
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        layout = fourBytes;
        break;
    case QImage::Format_RGB888:
        layout = threeBytes;
        break;
    default:
        return false;
    }
    std::shared_ptr<const Transform> transform = transformFor(embeddedIcc, layout);
    if (!transform)
        return false;
    if (transform->identity)
        return true;
    uchar *pixels = image.bits(); // detaches a shared image; null when that copy failed
    if (!pixels)
        return false;
    if (transform->fast) {
        transform->fast->convert(pixels, image.width(), image.height(),
                                 size_t(image.bytesPerLine()), channelOffsets(layout));
        return true;
    }
    auto lineBytes = static_cast<cmsUInt32Number>(image.bytesPerLine());
    auto planeBytes = static_cast<cmsUInt32Number>(
        std::min<qsizetype>(image.sizeInBytes(), std::numeric_limits<cmsUInt32Number>::max()));
    cmsDoTransformLineStride(transform->handle, pixels, pixels, image.width(), image.height(),
                             lineBytes, lineBytes, planeBytes, planeBytes);
    return true;
}

void setColourManagementEnabled(bool on)
{
    enabled = on;
}

bool colourManagementEnabled()
{
    return enabled;
}

std::string adobeRgbIccProfile()
{
    static const std::string bytes = [] {
        cmsContext context = lcmsContext();
        const cmsCIExyY whitePoint{0.3127, 0.3290, 1.0}; // D65
        const cmsCIExyYTRIPLE primaries{
            {0.6400, 0.3300, 1.0}, {0.2100, 0.7100, 1.0}, {0.1500, 0.0600, 1.0}};
        cmsToneCurve *gamma = cmsBuildGamma(context, 563.0 / 256.0);
        cmsToneCurve *curves[3] = {gamma, gamma, gamma};
        Profile profile(cmsCreateRGBProfileTHR(context, &whitePoint, &primaries, curves));
        cmsFreeToneCurve(gamma);
        std::string saved;
        cmsUInt32Number size = 0;
        if (profile && cmsSaveProfileToMem(profile.get(), nullptr, &size)) {
            saved.resize(size);
            if (!cmsSaveProfileToMem(profile.get(), saved.data(), &size))
                saved.clear();
        }
        return saved;
    }();
    return bytes;
}

size_t colourTransformsBuilt()
{
    return transformsBuilt;
}
