// Paging speed: the time to put a camera photo on a full-screen canvas, beside the naive path
// (Qt decodes the whole photo, then scales it smoothly) and the floor (libjpeg-turbo alone,
// decoding the bytes at the same DCT scale into a reused buffer); then key press to picture on the
// canvas on two screen sizes, with the neighbours decoded ahead (paging at one photo per 300 ms,
// and a held key at one press per 100 ms) and cold; colour management on and off; the peak memory
// of a station process paging 200 photos. Prints medians, p95s and ratios; passes or fails nothing.
//
//   bench_paging [--count N] [--rounds R] [--keep-malloc] [--progressive] [--full]
//   (N photos of each kind, each shown R times; --progressive: progressive photos too, in the
//   decode table and the memory figures (45 MP progressive only with --full); --keep-malloc: see
//   below)
#include "app/program_start.h"
#include "app/station_state.h"
#include "bench_measure.h"
#include "catalogue/selection_commands.h"
#include "host/colour_management.h"
#include "host/host_services.h"
#include "host/picture_decode.h"
#include "host/station_widgets.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
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

double percentile95(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t rank = (v.size() * 95 + 99) / 100; // nearest rank
    return v[std::max<size_t>(rank, 1) - 1];
}

// Lets the event loop and the decode workers run until `until` (steady clock, ms).
void runEventsUntil(double until)
{
    while (nowMs() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::usleep(500);
    }
}

// The station window at a screen's size: the canvas area the host decodes for follows it.
void sizeStation(QWidget *window, QSize screen)
{
    window->resize(screen);
    layoutMainWindow();
    QCoreApplication::processEvents();
}

// Points the station at the source folder customer/sub as loadPhotoList would, without showing.
void pointStationAt(const std::string &customer, const std::string &sub, const std::string &folder)
{
    host().forgetCanvasPictures();
    host().clearList(StationWindow::main, "组合框2");
    host().addListItem(StationWindow::main, "组合框2", customer + "/" + sub);
    host().setControlIndex(StationWindow::main, "组合框2", 0);
    station().photoList = photosIn(folder);
    station().currentIndex = 0;
}

PhotoCanvas *stationCanvas()
{
    return qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
}

// One key press: showNext, timed until it returns with the next photo on the canvas (showNext
// is synchronous: canvas, marker and position change before it returns).
double press(bool &shown)
{
    PhotoCanvas *canvas = stationCanvas();
    quint64 before = canvas->pictureSerial();
    int32_t expected = station().currentIndex % int32_t(station().photoList.size()) + 1;
    double start = nowMs();
    showNext();
    double took = nowMs() - start;
    shown = canvas->pictureSerial() != before && canvas->hasPicture() &&
            station().currentIndex == expected;
    return took;
}

struct Paging {
    std::vector<double> times;
    int presses = 0, shown = 0, slow = 0; // slow: over one frame (16 ms)
    double perSecond = 0;
};

// Presses every `paceMs`, on a schedule as a key repeat gives it (a late press follows at once),
// with the event loop running between presses. The first press and a settling pause are not
// counted.
Paging pageAt(int presses, double paceMs)
{
    Paging p;
    bool shown = false;
    press(shown);
    runEventsUntil(nowMs() + 300);
    double t0 = nowMs(), first = 0, last = 0;
    for (int i = 0; i < presses; ++i) {
        runEventsUntil(t0 + i * paceMs);
        double start = nowMs();
        if (i == 0)
            first = start;
        last = start;
        double took = press(shown);
        p.times.push_back(took);
        p.presses++;
        p.shown += shown ? 1 : 0;
        p.slow += took > 16 ? 1 : 0;
    }
    runEventsUntil(nowMs() + paceMs);
    p.perSecond = presses > 1 ? (presses - 1) * 1000.0 / (last - first) : 0;
    return p;
}

// A copy of a photo with the Adobe RGB (1998) profile embedded (one APP2 ICC_PROFILE segment
// right after SOI); the compressed picture is untouched, so only the conversion differs.
bool writeWithAdobeRgbProfile(const std::string &from, const std::string &to)
{
    std::string bytes = readBytes(from);
    QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    if (bytes.size() < 2 || icc.isEmpty() || icc.size() > 65000)
        return false;
    std::string segment = "\xff\xe2";
    size_t length = 2 + 12 + 2 + size_t(icc.size());
    segment += char(length >> 8);
    segment += char(length & 0xff);
    segment += std::string("ICC_PROFILE", 12); // with its terminating zero
    segment += '\x01';
    segment += '\x01';
    segment += std::string(icc.constData(), size_t(icc.size()));
    bytes.insert(2, segment);
    std::ofstream(to, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return true;
}

// The memory child: a station process that pages `presses` photos of `folder` (customer/sub
// under root) one per `paceMs`, with the neighbours decoded ahead; prints its peak resident size.
int memoryChild(const std::string &root, const std::string &customer, const std::string &sub,
                int presses, int paceMs)
{
    QWidget *window = createMainWindow();
    sizeStation(window, screenSizes[0]);
    station().photoRoot = root;
    station().customer = customer;
    host().setMessageHandler([](const std::string &) {});
    long baseKb = statusKb("VmRSS:");
    pointStationAt(customer, sub, root + customer + "/" + sub);
    Paging p = pageAt(presses, paceMs);
    std::printf("%ld %ld %d %d\n", statusKb("VmHWM:"), baseKb, p.shown, p.presses);
    host().setMessageHandler(nullptr);
    host().unregisterWindow(StationWindow::main, window);
    delete window;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initialiseHost();
    int count = 5, rounds = 3;
    bool keepMemory = false, progressive = false, full = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--memory-child" && i + 5 < argc)
            return memoryChild(argv[i + 1], argv[i + 2], argv[i + 3], std::atoi(argv[i + 4]),
                               std::atoi(argv[i + 5]));
        if (a == "--count" && i + 1 < argc)
            count = std::max(1, std::atoi(argv[++i]));
        else if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--keep-malloc")
            keepMemory = true;
        else if (a == "--progressive")
            progressive = true;
        else if (a == "--full")
            full = true;
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
    auto wanted = [&](const Kind &kind) { return progressive || !kind.progressive; };
    for (size_t k = 0; k < std::size(kinds); ++k)
        if (wanted(kinds[k]) &&
            !makeSet(root + customer + "/" + kinds[k].name, kinds[k], count, int(k) * 1000 + 1)) {
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
        if (!wanted(kind))
            continue;
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
        pointStationAt(customer, kind.name, folder);
        Figures paging = measure(files, rounds, [&](const std::string &) {
            bool shown = false;
            press(shown);
            return shown;
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

    // Key press to picture on the canvas, on two screens.
    const int steadyPresses = std::max(20, count * rounds), heldPresses = 30;
    std::printf("\nKey press to picture on the canvas (showNext until it returns with the next "
                "photo on the canvas), ms: median / p95 (nearest rank) (x floor)\n"
                "  cold: neighbours not decoded ahead; %d presses\n"
                "  ahead: neighbours decoded ahead, one press per 300 ms, event loop running "
                "between; %d presses\n"
                "  held: a press every 100 ms as a held key repeats (a late press follows at "
                "once); %d presses; shown/s, presses that showed their photo, presses over 16 ms\n"
                "  (after each ratio: presses over 16 ms)\n",
                count * rounds, steadyPresses, heldPresses);
    std::printf("%-10s %-14s %5s %8s %26s %26s %24s\n", "screen", "photos", "scale", "floor",
                "cold", "ahead", "held");
    for (QSize screen : screenSizes) {
        sizeStation(window, screen);
        QSize area(screen.width() - 2, screen.height() - 32 - 2);
        for (const Kind &kind : kinds) {
            if (kind.progressive)
                continue;
            const std::string folder = root + customer + "/" + kind.name;
            std::vector<std::string> files;
            for (const std::string &name : photosIn(folder))
                files.push_back(folder + "/" + name);
            QSize size(kind.width, kind.height);
            int denominator = jpegScaleDenominator(size, placedPictureSize(size, area));
            std::vector<std::string> bytes;
            for (const std::string &file : files)
                bytes.push_back(readBytes(file));
            std::vector<unsigned char> floorBuffer;
            size_t next = 0;
            Figures floor = measure(files, rounds, [&](const std::string &) {
                return floorDecode(bytes[next++ % bytes.size()], denominator, floorBuffer);
            });
            double base = median(floor.times);

            host().setCanvasPrefetch(false);
            pointStationAt(customer, kind.name, folder);
            Paging cold;
            for (int i = 0; i < count * rounds; ++i) {
                bool shown = false;
                cold.times.push_back(press(shown));
                cold.slow += cold.times.back() > 16 ? 1 : 0;
                cold.shown += shown ? 1 : 0;
                cold.presses++;
            }
            host().setCanvasPrefetch(true);
            pointStationAt(customer, kind.name, folder);
            Paging ahead = pageAt(steadyPresses, 300);
            pointStationAt(customer, kind.name, folder);
            Paging held = pageAt(heldPresses, 100);

            auto cell = [&](const Paging &p) {
                char text[64];
                std::snprintf(text, sizeof text, "%6.1f /%6.1f (%5.3fx) %2d%s", median(p.times),
                              percentile95(p.times), median(p.times) / base, p.slow,
                              p.shown == p.presses ? "" : "!");
                return std::string(text);
            };
            char heldText[64];
            std::snprintf(heldText, sizeof heldText, "%5.2f/s %2d/%2d shown %2d slow",
                          held.perSecond, held.shown, held.presses, held.slow);
            char screenText[16];
            std::snprintf(screenText, sizeof screenText, "%dx%d", screen.width(), screen.height());
            std::printf("%-10s %-14s  1/%d %8.1f %26s %26s %24s\n", screenText, kind.name,
                        denominator, base, cell(cold).c_str(), cell(ahead).c_str(), heldText);
            std::fflush(stdout);
        }
    }
    std::printf("(!: a press that did not show its photo.) Targets: ahead median under 8 ms, p95 "
                "under 16 ms; held 10/s with every press shown (24 MP); cold within 1.15x of "
                "the floor.\n");

    // Colour management: cold display of photos carrying an ICC profile, on and off.
    {
        sizeStation(window, screenSizes[0]);
        const std::string sub = "24MP-baseline-adobergb";
        const std::string from = root + customer + "/24MP-baseline";
        const std::string folder = root + customer + "/" + sub;
        QDir().mkpath(QFile::decodeName(folder.c_str()));
        for (const std::string &name : photosIn(from))
            writeWithAdobeRgbProfile(from + "/" + name, folder + "/" + name);
        host().setCanvasPrefetch(false);
        pointStationAt(customer, sub, folder);
        std::vector<double> on, off;
        int notShown = 0;
        size_t transformsBefore = colourTransformsBuilt();
        for (int r = 0; r < rounds; ++r)
            for (bool managed : {false, true}) {
                setColourManagementEnabled(managed);
                for (int i = 0; i < count; ++i) {
                    bool shown = false;
                    (managed ? on : off).push_back(press(shown));
                    notShown += shown ? 0 : 1;
                }
            }
        setColourManagementEnabled(true);
        host().setCanvasPrefetch(true);
        std::printf("\nColour management, cold showNext of 24 MP baseline photos with an embedded "
                    "Adobe RGB profile, 1920x1080, %d presses each (alternating passes):\n"
                    "  off %.1f ms / p95 %.1f; on %.1f ms / p95 %.1f: on/off %.2fx (target at "
                    "most 1.15x)%s; transforms built %zu\n",
                    count * rounds, median(off), percentile95(off), median(on), percentile95(on),
                    median(on) / median(off), notShown ? " (presses not shown!)" : "",
                    colourTransformsBuilt() - transformsBefore);
        std::fflush(stdout);
    }

    // Peak memory of a station process of its own paging 200 photos.
    std::printf("\nPeak memory (VmHWM) of a station process paging 200 photos, one press per "
                "100 ms, neighbours decoded ahead, 1920x1080 (the set of %d photos cycles):\n",
                count);
    for (const Kind &kind : kinds) {
        bool big = kind.width > 6000;
        if ((kind.progressive && !progressive) || (big && kind.progressive && !full))
            continue;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--memory-child", QFile::decodeName(root.c_str()),
                     QFile::decodeName(customer.c_str()), kind.name, "200", "100"});
        child.waitForFinished(600000);
        long peakKb = 0, baseKb = 0;
        int shown = 0, presses = 0;
        QByteArray out = child.readAllStandardOutput().trimmed();
        std::sscanf(out.split('\n').last().constData(), "%ld %ld %d %d", &peakKb, &baseKb, &shown,
                    &presses);
        std::printf("  %-17s peak %4ld MB (process before paging %ld MB); %d/%d presses shown\n",
                    kind.name, peakKb / 1024, baseKb / 1024, shown, presses);
        std::fflush(stdout);
    }
    std::printf("Targets: under 250 MB for 45 MP baseline, 450 MB for progressive.%s\n",
                progressive ? "" : " (progressive photos with --progressive)");
    host().setMessageHandler(nullptr);
    host().unregisterWindow(StationWindow::main, window);
    delete window;
    return 0;
}
