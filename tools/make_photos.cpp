// Makes camera-like JPEG photos with libjpeg-turbo: the demo photo tree, test fixtures and
// benchmark sets. Nothing is downloaded; the same arguments and seed give the same bytes.
//
//   make_photos demo <root>
//   make_photos photo <file> <w> <h> [options]
//   make_photos set <folder> <count> <w> <h> [options]      (photo_0001.jpg, photo_0002.jpg, ...)
// options: --quality Q (92)  --progressive  --cmyk  --gray  --orientation N (an EXIF tag 1-8)
//          --seed S (1)
//
// <w> <h> is the size as stored in the file. With an orientation tag the scene is stored turned
// the way a camera stores a portrait shot, so a viewer that applies the tag shows it upright:
// light sky at the top, dark ground at the bottom, a red kite in the top-left corner.
#include "host/exif_orientation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <jpeglib.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace
{

struct PhotoOptions {
    int width = 0, height = 0; // stored size
    int quality = 92;
    bool progressive = false, cmyk = false, gray = false;
    int orientation = 0; // 0: no EXIF segment
    uint32_t seed = 1;
};

uint32_t nextRandom(uint32_t &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

struct Ellipse {
    float cx, cy, rx, ry; // fractions of the upright width and height
    float r, g, b;
};

// The upright scene: sky and ground gradients, a sun, a few shaded shapes, a fine texture and
// sensor-like noise, so the photos compress and decode like real ones (not like flat colour).
class Scene
{
  public:
    Scene(int width, int height, uint32_t seed) : w_(width), h_(height)
    {
        uint32_t state = seed * 2654435761u + 12345u;
        if (state == 0)
            state = 1;
        auto unit = [&] { return float(nextRandom(state) % 10000) / 10000.0f; };
        int shapes = 4 + int(nextRandom(state) % 4);
        for (int i = 0; i < shapes; ++i)
            ellipses_.push_back({0.15f + 0.7f * unit(), 0.5f + 0.35f * unit(),
                                 0.05f + 0.12f * unit(), 0.08f + 0.2f * unit(), 40 + 200 * unit(),
                                 40 + 200 * unit(), 40 + 200 * unit()});
        sinX_.resize(size_t(width));
        sinY_.resize(size_t(height));
        float fx = 0.02f + 0.05f * unit(), fy = 0.03f + 0.05f * unit();
        for (int x = 0; x < width; ++x)
            sinX_[size_t(x)] = std::sin(x * fx);
        for (int y = 0; y < height; ++y)
            sinY_[size_t(y)] = std::sin(y * fy);
        seed_ = seed;
    }

    // Colour at upright (x, y), with `noise` a random number for this pixel.
    void colour(int x, int y, uint32_t noise, float out[3]) const
    {
        float u = float(x) / w_, v = float(y) / h_;
        float r, g, b;
        constexpr float horizon = 0.58f;
        if (v < horizon) {
            float t = v / horizon;
            r = 95 + 130 * t;
            g = 150 + 85 * t;
            b = 230 + 15 * t;
        } else {
            float t = (v - horizon) / (1 - horizon);
            r = 110 - 75 * t;
            g = 125 - 85 * t;
            b = 60 - 35 * t;
        }
        float aspect = float(w_) / h_;
        float sx = (u - 0.78f) * aspect, sy = v - 0.18f;
        if (sx * sx + sy * sy < 0.004f) {
            r = 255;
            g = 245;
            b = 210;
        }
        for (const Ellipse &e : ellipses_) {
            float dx = (u - e.cx) / e.rx, dy = (v - e.cy) / e.ry;
            if (dx * dx + dy * dy < 1) {
                float light = 1.05f - 0.35f * (dx + 1) * 0.5f - 0.15f * dy;
                r = e.r * light;
                g = e.g * light;
                b = e.b * light;
            }
        }
        if (u < 0.10f && u > 0.03f && v < 0.09f && v > 0.03f) { // the kite
            r = 220;
            g = 30;
            b = 30;
        }
        float texture = 9 * sinX_[size_t(x)] * sinY_[size_t(y)];
        float grain = float(int(noise & 15) - 8);
        float chroma = float(int((noise >> 4) & 7) - 4);
        out[0] = std::clamp(r + texture + grain + chroma, 0.0f, 255.0f);
        out[1] = std::clamp(g + texture + grain, 0.0f, 255.0f);
        out[2] = std::clamp(b + texture + grain - chroma, 0.0f, 255.0f);
    }

  private:
    int w_, h_;
    uint32_t seed_ = 1;
    std::vector<Ellipse> ellipses_;
    std::vector<float> sinX_, sinY_;
};

// An APP1 Exif payload holding only the orientation tag, little-endian as most cameras write.
std::vector<unsigned char> exifOrientationSegment(int orientation)
{
    const unsigned char bytes[] = {'E',
                                   'x',
                                   'i',
                                   'f',
                                   0,
                                   0, // identifier
                                   'I',
                                   'I',
                                   42,
                                   0,
                                   8,
                                   0,
                                   0,
                                   0, // TIFF header, first directory at 8
                                   1,
                                   0, // one entry
                                   0x12,
                                   0x01,
                                   3,
                                   0,
                                   1,
                                   0,
                                   0,
                                   0, // Orientation, SHORT, count 1
                                   static_cast<unsigned char>(orientation),
                                   0,
                                   0,
                                   0, // the value
                                   0,
                                   0,
                                   0,
                                   0}; // no next directory
    return {bytes, bytes + sizeof bytes};
}

bool writePhoto(const std::string &path, const PhotoOptions &o)
{
    if (o.width <= 0 || o.height <= 0 || o.width > 65500 || o.height > 65500)
        return false;
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "make_photos: cannot write %s\n", path.c_str());
        return false;
    }
    bool turned = o.orientation >= 5;
    int uw = turned ? o.height : o.width, uh = turned ? o.width : o.height;
    Scene scene(uw, uh, o.seed);

    // A failure here (a full disk) ends the tool through libjpeg's default handler: fine for a
    // tool.
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(o.width);
    cinfo.image_height = JDIMENSION(o.height);
    cinfo.input_components = o.gray ? 1 : o.cmyk ? 4 : 3;
    cinfo.in_color_space = o.gray ? JCS_GRAYSCALE : o.cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.progressive)
        jpeg_simple_progression(&cinfo);
    if (o.orientation > 0)
        cinfo.write_JFIF_header = FALSE; // cameras write Exif instead of JFIF
    jpeg_start_compress(&cinfo, TRUE);
    if (o.orientation > 0) {
        std::vector<unsigned char> exif = exifOrientationSegment(o.orientation);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif.data(), unsigned(exif.size()));
    }

    std::vector<unsigned char> row(size_t(o.width) * size_t(cinfo.input_components));
    float rgb[3];
    while (cinfo.next_scanline < cinfo.image_height) {
        int y = int(cinfo.next_scanline);
        uint32_t state = (o.seed + 1) * 0x9E3779B9u ^ uint32_t(y) * 0x85EBCA6Bu;
        if (state == 0)
            state = 1;
        unsigned char *p = row.data();
        for (int x = 0; x < o.width; ++x) {
            int ux, uy;
            uprightPosition(o.orientation, x, y, o.width, o.height, ux, uy);
            scene.colour(ux, uy, nextRandom(state), rgb);
            if (o.gray) {
                *p++ = static_cast<unsigned char>(0.299f * rgb[0] + 0.587f * rgb[1] +
                                                  0.114f * rgb[2] + 0.5f);
            } else if (o.cmyk) {
                // Adobe's inverted CMYK (0 is full ink), as Photoshop writes it; libjpeg adds
                // Adobe's APP14 segment that tells readers so.
                float k = std::max({rgb[0], rgb[1], rgb[2]});
                for (float c : rgb)
                    *p++ = static_cast<unsigned char>(k > 0 ? c * 255 / k + 0.5f : 0);
                *p++ = static_cast<unsigned char>(k + 0.5f);
            } else {
                for (float c : rgb)
                    *p++ = static_cast<unsigned char>(c + 0.5f);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    bool ok = std::fflush(file) == 0 && !std::ferror(file);
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "make_photos: cannot write %s\n", path.c_str());
    return ok;
}

struct Job {
    std::string path;
    PhotoOptions options;
};

// Runs the jobs on every core; false when any failed.
bool runJobs(const std::vector<Job> &jobs)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < jobs.size();)
                if (!writePhoto(jobs[i].path, jobs[i].options))
                    ok = false;
        });
    for (std::thread &worker : workers)
        worker.join();
    return ok;
}

bool makeFolder(const std::string &path)
{
    std::string partial;
    size_t from = 0;
    while (from != std::string::npos) {
        size_t slash = path.find('/', from + 1);
        partial = path.substr(0, slash);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        from = slash;
    }
    struct stat s {
    };
    return ::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

bool writeText(const std::string &path, const std::string &text)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

// The demo tree: three customers, their originals and project folders, with the odd cases a
// studio's tree really has.
bool makeDemo(const std::string &root)
{
    const std::string zhang = root + "/张三", li = root + "/李四", wang = root + "/王五";
    for (const std::string &folder :
         {zhang + "/入库", zhang + "/精修", zhang + "/隐藏", zhang + "/.cache", zhang + "/x.jpg",
          li + "/入库", li + "/精修", wang})
        if (!makeFolder(folder))
            return false;
    // A GNOME-style hidden folder: listed in the customer folder's .hidden file.
    if (!writeText(zhang + "/.hidden", "隐藏\n"))
        return false;

    std::vector<Job> jobs;
    uint32_t seed = 100;
    auto add = [&](const std::string &path, int w, int h, int orientation = 0,
                   bool progressive = false) {
        PhotoOptions o;
        o.width = w;
        o.height = h;
        o.orientation = orientation;
        o.progressive = progressive;
        o.seed = seed++;
        jobs.push_back({path, o});
    };
    // 张三: the originals, with portrait shots, a 45 MP one, small ones, a folder named x.jpg and
    // a file named in code page 936 (unpacked from a Windows archive).
    add(zhang + "/IMG_0001.JPG", 6000, 4000);
    add(zhang + "/IMG_0002.JPG", 6000, 4000, 6);
    add(zhang + "/IMG_0003.jpg", 6000, 4000);
    add(zhang + "/IMG_0004.JPG", 6000, 4000, 8);
    add(zhang + "/IMG_0005.jpg", 6000, 4000, 0, true);
    add(zhang + "/DSC_0006.jpg", 8192, 5464);
    add(zhang + "/small_01.jpg", 800, 600);
    add(zhang + "/small_02.JPG", 480, 640);
    add(zhang + "/\xD5\xD5\xC6\xAC.jpg", 6000, 4000); // 照片 in code page 936
    add(zhang + "/入库/IMG_0101.JPG", 6000, 4000);
    add(zhang + "/入库/IMG_0102.jpg", 6000, 4000, 6);
    add(zhang + "/入库/IMG_0103.JPG", 6000, 4000);
    add(zhang + "/精修/IMG_0002_修.jpg", 4000, 6000);
    add(zhang + "/精修/IMG_0003_修.jpg", 6000, 4000);
    add(zhang + "/隐藏/IMG_0900.jpg", 1200, 800);
    add(zhang + "/.cache/thumb_0001.jpg", 160, 120);
    // 李四: another camera, a progressive 45 MP photo.
    add(li + "/DSC_2001.JPG", 8192, 5464, 0, true);
    add(li + "/DSC_2002.jpg", 6000, 4000);
    add(li + "/DSC_2003.JPG", 6000, 4000, 8);
    add(li + "/DSC_2004.jpg", 6000, 4000);
    add(li + "/DSC_2005.jpg", 6000, 4000);
    add(li + "/small_03.jpg", 640, 480);
    add(li + "/入库/DSC_2101.jpg", 6000, 4000);
    add(li + "/入库/DSC_2102.JPG", 8192, 5464);
    add(li + "/精修/DSC_2002_修.jpg", 6000, 4000);
    // 王五: no sub-folder at all.
    add(wang + "/IMG_3001.jpg", 6000, 4000);
    add(wang + "/IMG_3002.JPG", 6000, 4000, 6);
    add(wang + "/IMG_3003.jpg", 6000, 4000);
    add(wang + "/small_04.jpg", 1024, 683);
    return runJobs(jobs);
}

bool parseInt(const char *text, int &value)
{
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!end || *end || end == text || v < 0 || v > 1000000000)
        return false;
    value = int(v);
    return true;
}

bool parseOptions(int argc, char **argv, int from, PhotoOptions &o)
{
    for (int i = from; i < argc; ++i) {
        std::string a = argv[i];
        int v = 0;
        if (a == "--progressive")
            o.progressive = true;
        else if (a == "--cmyk")
            o.cmyk = true;
        else if (a == "--gray")
            o.gray = true;
        else if (a == "--quality" && i + 1 < argc && parseInt(argv[++i], v) && v >= 1 && v <= 100)
            o.quality = v;
        else if (a == "--orientation" && i + 1 < argc && parseInt(argv[++i], v) && v >= 1 && v <= 8)
            o.orientation = v;
        else if (a == "--seed" && i + 1 < argc && parseInt(argv[++i], v))
            o.seed = uint32_t(v);
        else
            return false;
    }
    return !(o.cmyk && o.gray);
}

int usage()
{
    std::fprintf(stderr,
                 "usage: make_photos demo <root>\n"
                 "       make_photos photo <file> <w> <h> [options]\n"
                 "       make_photos set <folder> <count> <w> <h> [options]\n"
                 "options: --quality Q --progressive --cmyk --gray --orientation N --seed S\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    std::string command = argv[1];
    if (command == "demo" && argc == 3)
        return makeDemo(argv[2]) ? 0 : 1;
    PhotoOptions o;
    if (command == "photo" && argc >= 5) {
        if (!parseInt(argv[3], o.width) || !parseInt(argv[4], o.height) ||
            !parseOptions(argc, argv, 5, o))
            return usage();
        return writePhoto(argv[2], o) ? 0 : 1;
    }
    int count = 0;
    if (command == "set" && argc >= 6) {
        if (!parseInt(argv[3], count) || !parseInt(argv[4], o.width) ||
            !parseInt(argv[5], o.height) || !parseOptions(argc, argv, 6, o))
            return usage();
        std::string folder = argv[2];
        if (!makeFolder(folder))
            return 1;
        std::vector<Job> jobs;
        for (int i = 1; i <= count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/photo_%04d.jpg", i);
            PhotoOptions one = o;
            one.seed = o.seed + uint32_t(i) - 1;
            jobs.push_back({folder + name, one});
        }
        return runJobs(jobs) ? 0 : 1;
    }
    return usage();
}
