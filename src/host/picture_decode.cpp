// Placeholder until the libjpeg-turbo decoder lands.
#include "host/picture_decode.h"

QSize placedPictureSize(QSize pictureSize, QSize area)
{
    if (pictureSize.width() <= area.width() && pictureSize.height() <= area.height())
        return pictureSize;
    double f = std::min(double(area.width()) / pictureSize.width(),
                        double(area.height()) / pictureSize.height());
    return QSize(int(pictureSize.width() * f), int(pictureSize.height() * f));
}

CanvasPicture decodeCanvasPicture(const unsigned char *data, size_t size, QSize area)
{
    QImage image = QImage::fromData(data, static_cast<int>(size), "JPG");
    if (image.isNull())
        return {};
    return {image.scaled(placedPictureSize(image.size(), area)), image.size()};
}
