#include "photo_tree.h"

#include "host/host_services.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <dirent.h>
#include <fnmatch.h>
#include <fstream>
#include <sys/stat.h>

namespace
{
QString qpath(const std::string &path)
{
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}
} // namespace

PhotoTree::PhotoTree(const std::string &base)
    : dir_(base.empty() ? QDir::tempPath() + "/selvana-XXXXXX" : qpath(base) + "/selvana-XXXXXX")
{
}

std::string PhotoTree::root() const
{
    QByteArray p = QFile::encodeName(dir_.path());
    return std::string(p.constData(), static_cast<size_t>(p.size())) + "/";
}

void PhotoTree::makeFolder(const std::string &relative) const
{
    std::string full = path(relative);
    for (size_t slash = root().size(); slash != std::string::npos;
         slash = full.find('/', slash + 1))
        ::mkdir(full.substr(0, slash).c_str(), 0755);
    ::mkdir(full.c_str(), 0755);
}

std::string jpegBytes(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setPen(colour.lighter(160));
    for (int x = 0; x < size.width(); x += 8)
        painter.drawLine(x, 0, size.width() - x, size.height());
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void PhotoTree::writePhoto(const std::string &relative, QSize size, QColor colour) const
{
    writeFile(relative, jpegBytes(size, colour));
}

void PhotoTree::writeFile(const std::string &relative, const std::string &bytes) const
{
    std::ofstream out(path(relative), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string PhotoTree::readFile(const std::string &relative) const
{
    return host().readWholeFile(path(relative));
}

bool PhotoTree::exists(const std::string &relative) const
{
    struct stat s {
    };
    return ::lstat(path(relative).c_str(), &s) == 0;
}

namespace
{
// The expected order comes from readdir itself, never from the code under test.
std::vector<std::string> rawListing(const std::string &folder, bool folders, bool jpgOnly)
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        struct stat s {
        };
        bool isFolder = ::stat((folder + "/" + name).c_str(), &s) == 0 && S_ISDIR(s.st_mode);
        if (isFolder != folders)
            continue;
        if (jpgOnly && ::fnmatch("*.jpg", name.c_str(), FNM_CASEFOLD) != 0)
            continue;
        names.push_back(name);
    }
    ::closedir(dir);
    return names;
}
} // namespace

std::vector<std::string> PhotoTree::photosIn(const std::string &relativeFolder) const
{
    return rawListing(path(relativeFolder), false, true);
}

std::vector<std::string> PhotoTree::foldersIn(const std::string &relativeFolder) const
{
    return rawListing(path(relativeFolder), true, false);
}

bool runMakePhotos(const std::vector<std::string> &arguments)
{
    QStringList args;
    for (const auto &a : arguments)
        args << qpath(a);
    QProcess tool;
    tool.start(QStringLiteral(SELVANA_MAKE_PHOTOS), args);
    return tool.waitForFinished(120000) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}
