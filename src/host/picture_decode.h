#pragma once
// Decoding of photo files for the canvas: the upright picture at the size it is drawn. Safe to
// call from any thread (the prefetch workers call it side by side).

#include <QImage>
#include <QSize>
#include <cstddef>
#include <string>

// The size at which a picture of `pictureSize` is drawn in an area of `area`: its own size when
// it fits, else scaled by the smaller of the two ratios, each side rounded down.
QSize placedPictureSize(QSize pictureSize, QSize area);

// The libjpeg scale denominator (8, 4, 2 or 1) to decode a photo stored at `storedSize` so that
// it still covers `drawnSize` (both in the stored orientation): the smallest picture that does.
int jpegScaleDenominator(QSize storedSize, QSize drawnSize);

struct CanvasPicture {
    QImage image;   // null when the data is no picture that can be shown
    QSize fullSize; // the upright photo's own size
};

// Decodes JPEG bytes into the upright picture at the size it is drawn in `area`. Bad data gives
// no picture; a truncated photo gives what could be decoded.
CanvasPicture decodeCanvasPicture(const unsigned char *data, size_t size, QSize area);

// Decodes the photo file at `path`. Only a regular file of up to 512 MiB is read, opened without
// blocking (a FIFO under a photo's name cannot hang the caller); anything else is no picture.
CanvasPicture decodeCanvasPictureFile(const std::string &path, QSize area);
// The same for a file already open (for callers that fstat the very descriptor they decode).
CanvasPicture decodeCanvasPictureDescriptor(int fd, QSize area);
