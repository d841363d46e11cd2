// Writes the seed corpora of the fuzz targets, one folder per target, made from scratch here:
//   make_fuzz_seeds <folder>   ->  <folder>/fuzz_ini_file/*, <folder>/fuzz_picture_decode/*,
//                                  <folder>/fuzz_password_cipher/*, <folder>/fuzz_web_text/*
#include "access/password_cipher.h"

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

// One field of the web text fuzz input: its backslashes doubled, then a backslash and "|".
QByteArray field(QByteArray text)
{
    return text.replace("\\", "\\\\") + "\\|";
}

QByteArray enciphered(const std::string &password)
{
    return QByteArray::fromStdString(encipher(password, stationKey));
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

    // dat.ini as the station writes it, and as other editors may leave it.
    QString passwords = top + "/fuzz_password_cipher";
    ok &= writeSeed(passwords, "empty.ini", "");
    ok &= writeSeed(passwords, "digits.ini", enciphered("1234"));
    ok &= writeSeed(passwords, "cp936.ini", enciphered("\xC3\xDC\xC2\xEB"));
    ok &= writeSeed(passwords, "high-bytes.ini", enciphered("Ab\x80\xFF\x1A"));
    ok &= writeSeed(passwords, "small-letters-crlf.ini", enciphered("studio").toLower() + "\r\n");
    ok &= writeSeed(passwords, "odd-and-stray.ini", "4F,,g1,Z,0");
    ok &= writeSeed(passwords, "zero-byte.ini", enciphered("ab") + '\0' + enciphered("cd"));

    // Fields: URL, text, start marker, end marker, request headers, body, cookies, answer
    // headers; then a start position, the case choice and the method from the last bytes.
    QString web = top + "/fuzz_web_text";
    const char *answer = "HTTP/1.1 200 OK\r\nSet-Cookie: ASPSESSIONID=QX1; path=/\r\n"
                         "set-cookie: lang=zh-cn\r\nContent-Type: text/html\r\n\r\n";
    ok &= writeSeed(web, "login-page.txt",
                    field("http://studio.example.cn:8080/login.asp?id=7") +
                        field("<input name=\"pw\" value=\"abc\">") +
                        field("value=#\xD2\xFD\xBA\xC5") + field("#\xD2\xFD\xBA\xC5") +
                        field("User-Agent: Studio/1\r\n") + field("user=1&pw=2") +
                        field("ASPSESSIONID=QX1;") + field(answer) + QByteArray("\x03\x01\x01", 3));
    ok &= writeSeed(web, "https-cp936.txt",
                    field("HTTPS://\xCF\xE0\xC6\xAC.cn:\xA3\xB1\xA3\xB2/\xCD\xBC a.jpg") +
                        field("\xD5\xC5\xC8\xFD/\xC0\xEE\xCB\xC4/") + field("/") + field("/") +
                        field("RefererNo\r\nAccept: */*\r\n") + field("") + field("") +
                        field("Set-Cookie: a=b\nSet-Cookie: c\x1A=d; x\r\n") +
                        QByteArray("\x00\x00\x02", 3));
    ok &= writeSeed(web, "no-scheme.txt",
                    field("host:-12/path\\with\\backslash") + field("aXbXc") + field("x") +
                        field("") + field("") + field("body") + field("k=v") + field("") +
                        QByteArray("\x01\x00\x07", 3));
    return ok ? 0 : 1;
}
