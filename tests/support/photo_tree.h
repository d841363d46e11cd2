#pragma once
// A small photo tree in a temporary folder, with real JPEG files, for one test.

#include <QColor>
#include <QSize>
#include <QTemporaryDir>
#include <string>
#include <vector>

class PhotoTree
{
  public:
    explicit PhotoTree(const std::string &base = {}); // base: a folder to create it under
    // The root as the station's photo root, ending with "/".
    std::string root() const;
    std::string path(const std::string &relative) const { return root() + relative; }
    void makeFolder(const std::string &relative) const;
    // A real JPEG of the given size; the colour tells photos apart.
    void writePhoto(const std::string &relative, QSize size = QSize(64, 48),
                    QColor colour = Qt::darkCyan) const;
    void writeFile(const std::string &relative, const std::string &bytes) const;
    std::string readFile(const std::string &relative) const;
    bool exists(const std::string &relative) const;
    // Entry names of a folder in readdir order, filtered like the station's searches.
    std::vector<std::string> photosIn(const std::string &relativeFolder) const;
    std::vector<std::string> foldersIn(const std::string &relativeFolder) const;

  private:
    QTemporaryDir dir_;
};

// Runs the photo-making tool with `arguments`; true when it succeeded.
bool runMakePhotos(const std::vector<std::string> &arguments);
// The bytes of a small real JPEG of the given colour.
std::string jpegBytes(QSize size, QColor colour);
