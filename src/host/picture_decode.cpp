#include "host/picture_decode.h"

#include "host/exif_orientation.h"

#include "host/colour_management.h"
#include "host/jpeg_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Memory touched for the first time is expensive (a page fault per page, megabytes per picture),
// so everything sized like a picture is reused: the file's bytes go into a per-thread buffer, the
// photo is scaled while libjpeg hands out its rows (no full-size intermediate picture), and the
// finished pictures come from a pool of those nobody holds any more.

QSize placedPictureSize(QSize pictureSize, QSize area)
{
    long long pw = pictureSize.width(), ph = pictureSize.height();
    long long aw = std::max(0, area.width()), ah = std::max(0, area.height());
    if (pw <= 0 || ph <= 0)
        return QSize(0, 0);
    if (pw <= aw && ph <= ah)
        return pictureSize;
    // Compare aw / pw with ah / ph in integers: a floating ratio can land a hair below an exact
    // quotient and lose a pixel to the rounding down.
    if (aw * ph <= ah * pw)
        return QSize(static_cast<int>(aw), static_cast<int>(ph * aw / pw));
    return QSize(static_cast<int>(pw * ah / ph), static_cast<int>(ah));
}

int jpegScaleDenominator(QSize storedSize, QSize drawnSize)
{
    for (int denominator : {8, 4, 2}) {
        // libjpeg's scaled size is the stored size divided and rounded up.
        int w = (storedSize.width() + denominator - 1) / denominator;
        int h = (storedSize.height() + denominator - 1) / denominator;
        if (w >= drawnSize.width() && h >= drawnSize.height())
            return denominator;
    }
    return 1;
}

namespace
{

constexpr off_t maxPhotoFile = 512LL * 1024 * 1024;
constexpr size_t maxKeptFileBuffer = 64u * 1024 * 1024;

// Finished pictures, kept so that one the canvas and the prefetch cache have let go of can take
// the next picture of the same size without fresh memory. A picture is reused only while the
// pool holds its only reference (QImage's shared data counts them atomically).
class PicturePool
{
  public:
    QImage take(QSize size)
    {
        {
            std::lock_guard lock(mutex_);
            for (auto it = images_.begin(); it != images_.end(); ++it) {
                if (it->size() == size && it->isDetached()) {
                    QImage image = std::move(*it);
                    images_.erase(it);
                    return image;
                }
            }
        }
        return QImage(size, QImage::Format_RGB32);
    }

    void keep(const QImage &image)
    {
        std::lock_guard lock(mutex_);
        images_.push_back(image);
        // Two spare pictures of the current size are enough for paging on; others are freed.
        int spare = 0;
        for (auto it = images_.end(); it != images_.begin();) {
            --it;
            if (it->isDetached() && (it->size() != image.size() || ++spare > 2))
                it = images_.erase(it);
        }
        while (images_.size() > maxTracked)
            images_.pop_front();
    }

  private:
    static constexpr size_t maxTracked = 12;
    std::mutex mutex_;
    std::deque<QImage> images_;
};

PicturePool &picturePool()
{
    // Never destroyed: worker threads may still decode while the process ends.
    static PicturePool *pool = new PicturePool;
    return *pool;
}

// Which source pixels make up each output pixel along one axis, and how much of each: exact area
// averaging, the weights of every output pixel summing to exactly `total`.
struct AxisWeights {
    std::vector<int> first; // first source pixel of each output pixel
    std::vector<int> count; // how many source pixels
    std::vector<int> at;    // where its weights start in `weights`
    std::vector<uint16_t> weights;

    void build(int source, int target, int total)
    {
        first.resize(target);
        count.resize(target);
        at.resize(target);
        weights.clear();
        for (int i = 0; i < target; ++i) {
            // In units of 1/target source pixels, output i covers [lo, hi) and source j covers
            // [j * target, (j + 1) * target).
            long long lo = static_cast<long long>(i) * source, hi = lo + source;
            int j0 = static_cast<int>(lo / target), j1 = static_cast<int>((hi - 1) / target);
            first[i] = j0;
            count[i] = j1 - j0 + 1;
            at[i] = static_cast<int>(weights.size());
            long long before = 0;
            for (int j = j0; j <= j1; ++j) {
                long long covered = std::min(hi, static_cast<long long>(j + 1) * target) - lo;
                long long upTo = (covered * total + source / 2) / source;
                weights.push_back(static_cast<uint16_t>(upTo - before));
                before = upTo;
            }
        }
    }
};

// Where the pixels of one row of the stored picture go in the upright picture.
class UprightWriter
{
  public:
    void start(QImage *image, QSize stored, int orientation)
    {
        image_ = image;
        stored_ = stored;
        orientation_ = orientation;
        stride_ = image->bytesPerLine() / 4;
        bits_ = reinterpret_cast<uint32_t *>(image->bits());
    }

    void writeRow(int y, const uint32_t *pixels)
    {
        uint32_t *to = bits_ + offset(0, y);
        ptrdiff_t step = stored_.width() > 1 ? offset(1, y) - offset(0, y) : 1;
        if (step == 1) {
            std::memcpy(to, pixels, size_t(stored_.width()) * 4);
            return;
        }
        for (int x = 0; x < stored_.width(); ++x, to += step)
            *to = pixels[x];
    }

  private:
    ptrdiff_t offset(int x, int y) const
    {
        int ux, uy;
        uprightPosition(orientation_, x, y, stored_.width(), stored_.height(), ux, uy);
        return static_cast<ptrdiff_t>(uy) * stride_ + ux;
    }

    QImage *image_ = nullptr;
    uint32_t *bits_ = nullptr;
    QSize stored_;
    int orientation_ = 1;
    ptrdiff_t stride_ = 0;
};

// sums[i] = (fresh ? 0 : sums[i]) + w × pixels[i]; the hot loop of the scaling, on every source
// byte, so it is written for SSE2 (every x86-64 has it); the compiler does not vectorise it at -O2.
void addWeighted(uint16_t *sums, const unsigned char *pixels, size_t n, uint16_t w, bool fresh)
{
    size_t i = 0;
#ifdef __SSE2__
    const __m128i weight = _mm_set1_epi16(static_cast<short>(w));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + i));
        __m128i low = _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), weight);
        __m128i high = _mm_mullo_epi16(_mm_unpackhi_epi8(bytes, zero), weight);
        auto *to = reinterpret_cast<__m128i *>(sums + i);
        if (!fresh) {
            low = _mm_add_epi16(low, _mm_loadu_si128(to));
            high = _mm_add_epi16(high, _mm_loadu_si128(to + 1));
        }
        _mm_storeu_si128(to, low);
        _mm_storeu_si128(to + 1, high);
    }
#endif
    for (; i < n; ++i)
        sums[i] = static_cast<uint16_t>((fresh ? 0 : sums[i]) + w * pixels[i]);
}

// Scales rows down as they arrive from the decoder (area averaging) and writes finished rows
// upright into the picture. Each source row is first added, weighted, into one row of sums at
// the source width (a plain loop the compiler vectorises); a finished output row is then
// narrowed across. Buffers are per thread and reused.
class RowScaler
{
  public:
    void start(QSize source, QSize target, QImage *image, int orientation)
    {
        source_ = source;
        target_ = target;
        identity_ = source == target;
        nextRow_ = 0;
        fresh_ = true;
        writer_.start(image, target, orientation);
        out_.resize(static_cast<size_t>(target.width()));
        if (identity_)
            return;
        columns_.build(source.width(), target.width(), 256);
        // Weights of one output row sum to 128, so a sum (at most 255 × 128) fits a signed
        // 16-bit lane for the narrowing across. One pixel more: the narrowing reads in pairs.
        rows_.build(source.height(), target.height(), 128);
        sums_.assign(size_t(source.width() + 1) * 4, 0);
    }

    void addRows(const unsigned char *const *rows, int firstRow, int count)
    {
        for (int r = 0; r < count; ++r) {
            if (identity_) {
                writer_.writeRow(firstRow + r, reinterpret_cast<const uint32_t *>(rows[r]));
                nextRow_ = firstRow + r + 1;
            } else {
                addRow(firstRow + r, rows[r]);
            }
        }
    }

    // Rows never finished (the data broke off) are black.
    void finishBlack()
    {
        std::fill(out_.begin(), out_.end(), 0xff000000u);
        for (; nextRow_ < target_.height(); ++nextRow_)
            writer_.writeRow(nextRow_, out_.data());
    }

  private:
    void addRow(int sourceRow, const unsigned char *pixels)
    {
        // A source row can fall into two output rows: finish the first, then start the next.
        while (nextRow_ < target_.height()) {
            int y = nextRow_, first = rows_.first[y];
            if (sourceRow < first || sourceRow >= first + rows_.count[y])
                return;
            const uint16_t w = rows_.weights[size_t(rows_.at[y] + sourceRow - first)];
            addWeighted(sums_.data(), pixels, sums_.size() - 4, w, fresh_);
            fresh_ = false;
            if (sourceRow != first + rows_.count[y] - 1)
                return;
            emitRow(y);
            fresh_ = true;
        }
    }

    void emitRow(int y)
    {
        const uint16_t *sums = sums_.data();
        for (int x = 0; x < target_.width(); ++x)
            out_[size_t(x)] =
                narrowPixel(sums + size_t(columns_.first[x]) * 4,
                            columns_.weights.data() + columns_.at[x], columns_.count[x]);
        writer_.writeRow(y, out_.data());
        nextRow_ = y + 1;
    }

    // One output pixel from `count` neighbouring pixels of summed rows (B, G, R, X each).
    static uint32_t narrowPixel(const uint16_t *p, const uint16_t *w, int count)
    {
#ifdef __SSE2__
        // Two source pixels at a time: interleave them (b0 b1 g0 g1 r0 r1 x0 x1) and let one
        // multiply-add weigh and add both for all four channels.
        __m128i sum = _mm_set1_epi32(1 << 14);
        for (int k = 0; k < count; k += 2, p += 8) {
            __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            __m128i paired = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
            int second = k + 1 < count ? w[k + 1] : 0;
            __m128i weights = _mm_set1_epi32(w[k] | second << 16);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(paired, weights));
        }
        sum = _mm_srli_epi32(sum, 15);
        sum = _mm_packs_epi32(sum, sum);
        sum = _mm_packus_epi16(sum, sum);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(sum)) | 0xff000000u;
#else
        uint32_t b = 1 << 14, g = 1 << 14, r = 1 << 14;
        for (int k = 0; k < count; ++k, p += 4) {
            b += uint32_t(w[k]) * p[0];
            g += uint32_t(w[k]) * p[1];
            r += uint32_t(w[k]) * p[2];
        }
        return 0xff000000u | (r >> 15) << 16 | (g >> 15) << 8 | b >> 15;
#endif
    }

    QSize source_, target_;
    bool identity_ = false, fresh_ = true;
    int nextRow_ = 0;
    UprightWriter writer_;
    AxisWeights columns_, rows_;
    std::vector<uint16_t> sums_;
    std::vector<uint32_t> out_;
};

struct FileBuffer {
    std::unique_ptr<unsigned char[]> bytes;
    size_t capacity = 0;
};

// Reads the whole open regular file into `buffer`; the number of bytes read, 0 when unreadable.
size_t readPhotoFile(int fd, FileBuffer &buffer)
{
    struct stat s {
    };
    if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || s.st_size <= 0 || s.st_size > maxPhotoFile)
        return 0;
    size_t size = static_cast<size_t>(s.st_size);
    if (buffer.capacity < size) {
        buffer.capacity = (size + (1u << 20) - 1) & ~size_t((1u << 20) - 1);
        buffer.bytes.reset(new unsigned char[buffer.capacity]);
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, buffer.bytes.get() + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // shrank while reading: what was read is decoded as a truncated photo
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

CanvasPicture decodeCanvasPicture(const unsigned char *data, size_t size, QSize area)
{
    thread_local RowScaler scaler;
    CanvasPicture picture;
    QImage image;
    QSize drawn; // in the stored orientation
    int orientation = 1;
    std::string icc;
    JpegDecodeSteps steps;
    steps.chooseScale = [&](const JpegHeader &header) {
        orientation = header.orientation;
        icc = header.iccProfile;
        bool turned = orientation >= 5;
        picture.fullSize = turned ? header.size.transposed() : header.size;
        QSize placed = placedPictureSize(picture.fullSize, area).expandedTo(QSize(1, 1));
        drawn = turned ? placed.transposed() : placed;
        return jpegScaleDenominator(header.size, drawn);
    };
    steps.begin = [&](QSize scaled) {
        drawn = drawn.boundedTo(scaled); // never enlarged, even if libjpeg rounds differently
        image = picturePool().take(orientation >= 5 ? drawn.transposed() : drawn);
        if (image.isNull())
            return false;
        scaler.start(scaled, drawn, &image, orientation);
        return true;
    };
    steps.rows = [&](const unsigned char *const *rows, int firstRow, int count) {
        scaler.addRows(rows, firstRow, count);
    };
    JpegDecodeResult result = decodeJpeg(data, size, steps);
    if (result.outcome == JpegOutcome::failed || result.outcome == JpegOutcome::refused)
        return {};
    scaler.finishBlack();
    if (!icc.empty()) // after scaling: only the drawn pixels are converted
        convertToDisplayColours(image, icc);
    picturePool().keep(image);
    picture.image = std::move(image);
    return picture;
}

CanvasPicture decodeCanvasPictureDescriptor(int fd, QSize area)
{
    thread_local FileBuffer kept;
    FileBuffer once;
    struct stat s {
    };
    bool large = ::fstat(fd, &s) == 0 && static_cast<size_t>(s.st_size) > maxKeptFileBuffer;
    FileBuffer &buffer = large ? once : kept; // a rare huge file does not stay in memory
    size_t size = readPhotoFile(fd, buffer);
    if (size == 0)
        return {};
    return decodeCanvasPicture(buffer.bytes.get(), size, area);
}

CanvasPicture decodeCanvasPictureFile(const std::string &path, QSize area)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    CanvasPicture picture = decodeCanvasPictureDescriptor(fd, area);
    ::close(fd);
    return picture;
}
