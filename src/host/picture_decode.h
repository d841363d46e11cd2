#pragma once
// Decoding of photo files for the canvas. Safe to call from any thread.

#include <QImage>
#include <QSize>
#include <cstddef>

// The size at which a picture of `pictureSize` is drawn in an area of `area`: its own size when
// it fits, else scaled by the smaller of the two ratios, each side rounded down.
QSize placedPictureSize(QSize pictureSize, QSize area);

struct CanvasPicture {
    QImage image;  // null when the data is no picture that can be shown
    QSize fullSize; // the upright photo's own size
};

// Decodes JPEG bytes into the upright picture at (at least) the size it is drawn in `area`.
CanvasPicture decodeCanvasPicture(const unsigned char *data, size_t size, QSize area);
