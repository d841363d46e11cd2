// Paging speed: the time to put a camera photo on a full-screen canvas, beside the naive path
// (Qt decodes the whole photo, then scales it smoothly) and the floor (libjpeg-turbo alone,
// decoding the bytes at the same DCT scale into a reused buffer); then key press to picture on the
// canvas on two screen sizes, with the neighbours decoded ahead (paging at one photo per 300 ms,
// and a held key at one press per 100 ms) and cold; colour management on and off; the peak memory
// of a station process paging 200 photos. Prints medians, p95s and ratios; passes or fails nothing.
//
//   bench_paging [--count N] [--rounds R] [--keep-malloc] [--progressive] [--full]
//   (N photos of each kind, each shown R times; --progressive: progressive photos too, in the
//   decode table and the memory figures; --full: the 45 MP memory figure too; --keep-malloc: see
//   below)
#include "app/program_start.h"
#include "app/station_state.h"
#include "catalogue/selection_commands.h"
#include "host/colour_management.h"
#include "host/host_services.h"
#include "host/picture_decode.h"
#include "host/station_widgets.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QColorSpace>
#include <QThread>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <jpeglib.h>
#include <malloc.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

// The station full-screen on a 1920×1080 screen: the canvas below the 32-pixel strip, inside
// its one-pixel border.
const QSize screenSize(1920, 1080);
const QSize canvasArea(1918, 1046);

struct Kind {
    const char *name;
    int width, height;
    bool progressive;
};

const QSize screenSizes[] = {{1920, 1080}, {2560, 1440}};

const Kind kinds[] = {
    {"24MP-baseline", 6000, 4000, false},
    {"24MP-progressive", 6000, 4000, true},
    {"45MP-baseline", 8192, 5464, false},
    {"45MP-progressive", 8192, 5464, true},
};

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    return -1;
}

// Resets the peak resident size to the current one, so each path's peak is its own.
void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::string readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The floor: libjpeg-turbo decoding bytes already in memory at the DCT scale, into one buffer.
bool floorDecode(const std::string &bytes, int denominator, std::vector<unsigned char> &out)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors); // the files are good: the default handler is enough
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(denominator);
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    size_t stride = size_t(cinfo.output_width) * 4;
    if (out.size() < stride * cinfo.output_height)
        out.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.data() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

struct Figures {
    std::vector<double> times;
    long peakKb = 0;
    int failures = 0;
};

// Runs `one` on every file `rounds` times; the median and the peak memory above `baseKb`.
Figures measure(const std::vector<std::string> &files, int rounds,
                const std::function<bool(const std::string &)> &one)
{
    Figures f;
    resetPeakMemory();
    for (int r = 0; r < rounds; ++r)
        for (const std::string &file : files) {
            double start = nowMs();
            bool ok = one(file);
            f.times.push_back(nowMs() - start);
            f.failures += ok ? 0 : 1;
        }
    f.peakKb = statusKb("VmHWM:");
    return f;
}

bool makeSet(const std::string &folder, const Kind &kind, int count, int seed)
{
    QStringList args{"set",
                     QFile::decodeName(folder.c_str()),
                     QString::number(count),
                     QString::number(kind.width),
                     QString::number(kind.height),
                     "--quality",
                     "92",
                     "--seed",
                     QString::number(seed)};
    if (kind.progressive)
        args << "--progressive";
    QProcess tool;
    tool.start(QStringLiteral(SELVANA_MAKE_PHOTOS), args);
    return tool.waitForFinished(600000) && tool.exitCode() == 0;
}

std::vector<std::string> photosIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const QString &name :
         QDir(QFile::decodeName(folder.c_str())).entryList({"*.jpg"}, QDir::Files, QDir::Name))
        names.push_back(QFile::encodeName(name).toStdString());
    return names;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initialiseHost();
    int count = 5, rounds = 3;
    bool keepMemory = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--count" && i + 1 < argc)
            count = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--keep-malloc")
            keepMemory = true;
    }
    if (keepMemory) {
        // What a process-wide malloc setting would give: libjpeg's big blocks (a progressive
        // photo's coefficients) come from memory already touched instead of fresh mappings.
        mallopt(M_MMAP_THRESHOLD, 512 << 20);
        mallopt(M_TRIM_THRESHOLD, 1024 << 20);
    }

    QTemporaryDir dir(QDir::tempPath() + "/selvana-bench-XXXXXX");
    const std::string root = QFile::encodeName(dir.path()).toStdString() + "/";
    const std::string customer = "bench";
    std::printf("Making %d photos of each kind (quality 92, textured) in %s ...\n", count,
                root.c_str());
    std::fflush(stdout);
    for (size_t k = 0; k < std::size(kinds); ++k)
        if (!makeSet(root + customer + "/" + kinds[k].name, kinds[k], count, int(k) * 1000 + 1)) {
            std::fprintf(stderr, "make_photos failed\n");
            return 1;
        }

    // The station's own window, full-screen size, for showNext.
    QWidget *window = createMainWindow();
    window->resize(screenSize);
    layoutMainWindow();
    station().photoRoot = root;
    station().customer = customer;
    host().setMessageHandler([](const std::string &) {});
    PhotoCanvas canvas;
    canvas.resize(canvasArea + QSize(2, 2));

    // Qt's default allocation limit is checked first, then raised for the naive path.
    const int defaultLimit = QImageReader::allocationLimit();
    std::vector<std::string> big = photosIn(root + customer + "/" + kinds[2].name);
    QImageReader probe(
        QFile::decodeName((root + customer + "/" + kinds[2].name + "/" + big[0]).c_str()));
    bool refusedByDefault = probe.read().isNull();
    QImageReader::setAllocationLimit(1024);

    std::printf("\nCanvas %dx%d (inner area %dx%d); medians of %d shows per kind; peak = VmHWM "
                "during that path (process base %ld MB)\n",
                screenSize.width(), screenSize.height(), canvasArea.width(), canvasArea.height(),
                count * rounds, statusKb("VmRSS:") / 1024);
    std::printf("Qt's default image allocation limit (%d MB) %s a 8192x5464 photo; raised to "
                "1024 MB for the naive path.\n",
                defaultLimit, refusedByDefault ? "REFUSES" : "accepts");
    std::printf("malloc: %s\n\n",
                keepMemory ? "large blocks kept for reuse (--keep-malloc)"
                           : "glibc defaults (large blocks are fresh mappings every time)");
    std::printf("%-17s %5s %10s %18s %18s %18s\n", "photos", "scale", "floor ms", "decode+set ms",
                "showNext ms", "naive ms");

    for (const Kind &kind : kinds) {
        const std::string folder = root + customer + "/" + kind.name;
        std::vector<std::string> files;
        for (const std::string &name : photosIn(folder))
            files.push_back(folder + "/" + name);
        QSize placed = placedPictureSize(QSize(kind.width, kind.height), canvasArea);
        int denominator = jpegScaleDenominator(QSize(kind.width, kind.height), placed);

        std::vector<std::string> bytes;
        for (const std::string &file : files)
            bytes.push_back(readBytes(file));
        std::vector<unsigned char> floorBuffer;
        size_t next = 0;
        Figures floor = measure(files, rounds, [&](const std::string &) {
            return floorDecode(bytes[next++ % bytes.size()], denominator, floorBuffer);
        });

        Figures ours = measure(files, rounds, [&](const std::string &file) {
            CanvasPicture p = decodeCanvasPictureFile(file, canvasArea);
            canvas.setPicture(p.image, p.fullSize);
            return !p.image.isNull() && p.image.size() == placed;
        });

        // showNext through the station, decoding every photo when shown (nothing ahead).
        host().setCanvasPrefetch(false);
        host().clearList(StationWindow::main, "组合框2");
        host().addListItem(StationWindow::main, "组合框2", customer + "/" + kind.name);
        host().setControlIndex(StationWindow::main, "组合框2", 0);
        station().photoList = photosIn(folder);
        station().currentIndex = 0;
        auto *stationCanvas =
            qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
        Figures paging = measure(files, rounds, [&](const std::string &) {
            quint64 before = stationCanvas->pictureSerial();
            showNext();
            return stationCanvas->pictureSerial() != before && stationCanvas->hasPicture();
        });

        Figures naive = measure(files, rounds, [&](const std::string &file) {
            QImage full(QFile::decodeName(file.c_str()));
            if (full.isNull())
                return false;
            QImage scaled = full.scaled(placedPictureSize(full.size(), canvasArea),
                                        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            canvas.setPicture(scaled, full.size());
            return true;
        });

        double base = median(floor.times);
        auto column = [&](const Figures &f) {
            char text[64];
            std::snprintf(text, sizeof text, "%7.1f (%4.2fx)%s", median(f.times),
                          median(f.times) / base, f.failures ? "!" : "");
            return std::string(text);
        };
        std::printf("%-17s  1/%d %10.1f %18s %18s %18s\n", kind.name, denominator, base,
                    column(ours).c_str(), column(paging).c_str(), column(naive).c_str());
        std::printf("%-17s %5s %7ld MB %15ld MB %15ld MB %15ld MB\n", "  peak memory", "",
                    floor.peakKb / 1024, ours.peakKb / 1024, paging.peakKb / 1024,
                    naive.peakKb / 1024);
        std::fflush(stdout);
    }
    std::printf("\n(!: a show that gave no picture or a wrong size.) Target: decode+set within "
                "1.15x of the floor.\n");
    host().setMessageHandler(nullptr);
    host().unregisterWindow(StationWindow::main, window);
    delete window;
    return 0;
}
