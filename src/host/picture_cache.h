#pragma once
// Pictures decoded ahead of need. While a photo is shown its neighbours are decoded on worker
// threads at the size they will be drawn, so paging only puts a ready picture on the canvas.
// A picture is handed out only while the file is still the one it was decoded from (device,
// inode, size and modification time); otherwise the file is decoded afresh. Workers never touch
// widgets or station state. GUI thread only, apart from the workers themselves.

#include "host/picture_decode.h"

#include <memory>
#include <string>
#include <vector>

class PictureCache
{
  public:
    PictureCache();
    ~PictureCache(); // stops the workers
    PictureCache(const PictureCache &) = delete;
    PictureCache &operator=(const PictureCache &) = delete;

    // The picture of the photo file at `path` as it is on disk now, for a canvas area `area`:
    // a prefetched one when still valid, else decoded now (waiting for a decode in progress).
    CanvasPicture picture(const std::string &path, QSize area);
    // Decode these next, in this order; pictures of other files are dropped, except `keep`.
    void prefetch(const std::vector<std::string> &paths, const std::string &keep, QSize area);
    // Forgets every picture (the source folder changed).
    void clear();
    void setEnabled(bool enabled); // off: every picture is decoded when asked for
    void stop();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Decodes the photo file at `path` for `area`. Only regular files up to 512 MiB are read (opened
// without blocking: a FIFO under a photo's name cannot hang the station).
CanvasPicture decodePhotoFile(const std::string &path, QSize area);
