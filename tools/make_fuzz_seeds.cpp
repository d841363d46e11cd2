// Writes the seed corpora of the fuzz targets, one folder per target, made from scratch here:
//   make_fuzz_seeds <folder>   ->  <folder>/fuzz_ini_file/*, <folder>/fuzz_picture_decode/*
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <cstdio>
#include <string>

namespace
{

bool writeSeed(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(folder);
    QFile file(folder + "/" + name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray jpeg(QSize size, QColor colour, bool progressive, int quality = 85)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawEllipse(QRect(QPoint(0, 0), size / 2));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// An EXIF block (big-endian TIFF) with one entry: the orientation.
QByteArray withOrientation(QByteArray jpegBytes, int orientation)
{
    QByteArray tiff("MM\x00\x2A\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);                                     // one entry
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);             // orientation, SHORT, 1
    tiff += char(0) + QByteArray(1, char(orientation)) + QByteArray(2, 0); // value, padding
    tiff += QByteArray(4, 0);                                              // no next directory
    QByteArray exif = QByteArray("Exif\x00\x00", 6) + tiff;
    int length = exif.size() + 2;
    QByteArray segment = QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + exif;
    return jpegBytes.insert(2, segment);
}

QByteArray declaringSize(QByteArray bytes, int width, int height)
{
    for (int at = 2; at + 9 < bytes.size();) {
        auto byte = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
        if (byte(at) != 0xFF)
            break;
        if (byte(at + 1) >= 0xC0 && byte(at + 1) <= 0xC2) {
            bytes[at + 5] = char(height >> 8);
            bytes[at + 6] = char(height & 0xFF);
            bytes[at + 7] = char(width >> 8);
            bytes[at + 8] = char(width & 0xFF);
            break;
        }
        at += 2 + (byte(at + 2) << 8 | byte(at + 3));
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <folder>\n");
        return 2;
    }
    QString top = QFile::decodeName(argv[1]);
    bool ok = true;

    QString ini = top + "/fuzz_ini_file";
    ok &= writeSeed(ini, "plain.ini", "[设置]\r\n图片目录=/srv/photos/\r\n");
    ok &= writeSeed(ini, "bom-comments.ini",
                    "\xEF\xBB\xBF; settings\n[Other]\n图片目录=no\n[ 设置 ]\n ; x\n 图片目录 = "
                    "\"/srv/相片 根/\" \n");
    ok &= writeSeed(ini, "cp936.ini",
                    "[\xC9\xE8\xD6\xC3]\n\xCD\xBC\xC6\xAC\xC4\xBF\xC2\xBC=D:\\"
                    "\xCF\xE0\xC6\xAC\n");
    ok &= writeSeed(ini, "long-value.ini",
                    "[设置]\n图片目录=" + QByteArray(12000, 'x') + "\n[设置\n=\n");
    ok &= writeSeed(ini, "odd-lines.ini", "[]\n=\n[设置]]\r\r图片目录\n图片目录='\n图片目录=''\n");

    QString pictures = top + "/fuzz_picture_decode";
    QByteArray small = jpeg(QSize(48, 32), Qt::darkCyan, false);
    ok &= writeSeed(pictures, "baseline.jpg", small);
    ok &= writeSeed(pictures, "progressive.jpg", jpeg(QSize(40, 56), Qt::red, true, 60));
    ok &= writeSeed(pictures, "orientation-6.jpg", withOrientation(small, 6));
    ok &= writeSeed(pictures, "orientation-3.jpg", withOrientation(small, 3));
    ok &= writeSeed(pictures, "declares-65500.jpg", declaringSize(small, 65500, 65500));
    ok &= writeSeed(pictures, "cut.jpg", small.left(small.size() / 2));
    return ok ? 0 : 1;
}
