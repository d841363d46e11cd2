#pragma once
// JPEG decoding with libjpeg-turbo. Every libjpeg error comes back as an outcome, never as exit()
// or a jump through the caller's frames. Safe on any thread: all state belongs to one call.

#include <QSize>
#include <cstddef>
#include <functional>
#include <string>

// Declared dimensions beyond this are refused before any decoding: a forged header must not
// make us allocate gigabytes.
constexpr long long maxJpegPixels = 300'000'000;
// libjpeg's own memory for one decode; a progressive photo keeps all its coefficients (about
// 133 MB for 8192×5464), so this is generous for cameras and still bounds a hostile file.
constexpr long maxJpegMemory = 512L * 1024 * 1024;

struct JpegHeader {
    QSize size;             // as stored, before the orientation is applied
    int orientation = 1;    // EXIF orientation, 1 (upright) to 8
    std::string iccProfile; // the embedded ICC profile, empty when there is none
};

// How a decode goes on once the header is known. The callbacks run on the calling thread, never
// while libjpeg is running, so they may be ordinary C++.
struct JpegDecodeSteps {
    // The scale denominator for this header (1, 2, 4 or 8); 0 stops after the header.
    std::function<int(const JpegHeader &)> chooseScale;
    // The decoded size at that scale is known; false stops.
    std::function<bool(QSize scaledSize)> begin;
    // `count` decoded rows from `firstRow` on, each in QImage::Format_RGB32 layout.
    std::function<void(const unsigned char *const *rows, int firstRow, int count)> rows;
};

enum class JpegOutcome {
    failed,   // no JPEG, or broken before any row was decoded
    refused,  // dimensions beyond the limit, or stopped by a callback
    partial,  // broken part-way: the rows before `rowsDone` are valid
    repaired, // libjpeg warned (a truncated or damaged stream, the rest filled in) but finished
    complete,
};

struct JpegDecodeResult {
    JpegOutcome outcome = JpegOutcome::failed;
    JpegHeader header;
    int rowsDone = 0;
};

JpegDecodeResult decodeJpeg(const unsigned char *data, size_t size, const JpegDecodeSteps &steps);

// The EXIF orientation (1–8) in the payload of an APP1 segment ("Exif\0\0" and a TIFF
// structure); 1 when there is none or the data is damaged.
int exifOrientation(const unsigned char *data, size_t size);
