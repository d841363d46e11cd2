// File work of the station against the bare system calls: listing a source folder of 10,000
// photos (loadPhotoList) against readdir; a select within one file system (moveFile) against
// rename; a move across file systems (a 20 MB photo, /tmp to /dev/shm) against copy_file_range,
// fdatasync and unlink. Prints medians and ratios; passes or fails nothing.
//
//   bench_files [--rounds R] [--files N] [--cross-target FOLDER]
#include "app/program_start.h"
#include "app/station_state.h"
#include "bench_measure.h"
#include "catalogue/selection_commands.h"
#include "host/host_services.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// The peer of listing: names ending in ".jpg", straight from readdir.
size_t bareList(const std::string &folder, std::vector<std::string> &names)
{
    names.clear();
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    while (dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names.size();
}

void syncFolder(const std::string &folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The peer of a move across file systems: copy_file_range (read/write where the kernel refuses
// it across these file systems), fdatasync, unlink. Sets `fellBack` when copy_file_range failed.
bool copyRangeMove(const std::string &source, const std::string &target, bool &fellBack)
{
    int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    int to = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (from < 0 || to < 0)
        return false;
    struct stat s {
    };
    ::fstat(from, &s);
    off_t left = s.st_size;
    while (left > 0) {
        ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, size_t(left), 0);
        if (n <= 0)
            break;
        left -= n;
    }
    if (left > 0) {
        fellBack = true;
        std::vector<char> buffer(1 << 20);
        ::lseek(from, s.st_size - left, SEEK_SET);
        for (ssize_t n; (n = ::read(from, buffer.data(), buffer.size())) > 0;)
            if (::write(to, buffer.data(), size_t(n)) != n)
                return false;
    }
    bool ok = ::fdatasync(to) == 0;
    ::close(from);
    ok = ::close(to) == 0 && ok;
    return ok && ::unlink(source.c_str()) == 0;
}

std::string ratio(double ours, double peer)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2fx", peer > 0 ? ours / peer : 0.0);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initialiseHost();
    int rounds = 9, fileCount = 10000;
    std::string crossTarget = "/dev/shm";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--files" && i + 1 < argc)
            fileCount = std::max(1, std::atoi(argv[++i]));
        else if (a == "--cross-target" && i + 1 < argc)
            crossTarget = argv[++i];
    }

    QTemporaryDir dir(QDir::tempPath() + "/selvana-bench-files-XXXXXX");
    const std::string root = QFile::encodeName(dir.path()).toStdString() + "/";
    const std::string customer = "bench";
    const std::string folder = root + customer + "/many";
    QDir().mkpath(QFile::decodeName(folder.c_str()));

    // Small real photos: listing reads names only, and the first one is shown.
    QImage small(64, 48, QImage::Format_RGB32);
    small.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "JPG", 92);
    const std::string bytes(jpeg.constData(), size_t(jpeg.size()));
    for (int n = 1; n <= fileCount; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/photo_%05d.jpg", n);
        writeFile(folder + name, bytes);
    }

    QWidget *window = createMainWindow();
    window->resize(1920, 1080);
    layoutMainWindow();
    station().photoRoot = root;
    station().customer = customer;
    host().setMessageHandler([](const std::string &) {});
    host().clearList(StationWindow::main, "组合框2");
    host().addListItem(StationWindow::main, "组合框2", customer + "/many");
    host().setControlIndex(StationWindow::main, "组合框2", 0);

    std::printf("\nFile work (medians of %d runs, the listing %d, alternating with the peer; "
                "page cache warm: nothing is read from disk)\n",
                rounds, 3 * rounds);
    std::printf("%-46s %12s %12s %8s\n", "", "ours ms", "peer ms", "ratio");

    // Listing.
    std::vector<double> listing, bare;
    std::vector<std::string> names;
    size_t listed = 0, bareCount = 0;
    bareList(folder, names);               // warm the directory cache for both
    for (int r = 0; r < 3 * rounds; ++r) { // quick: more runs against the noise
        double start = nowMs();
        loadPhotoList();
        listing.push_back(nowMs() - start);
        listed = station().photoList.size();
        start = nowMs();
        bareCount = bareList(folder, names);
        bare.push_back(nowMs() - start);
    }
    char label[96];
    std::snprintf(label, sizeof label, "loadPhotoList / readdir, %zu/%zu photos", listed,
                  bareCount);
    std::printf("%-46s %12.2f %12.2f %8s\n", label, median(listing), median(bare),
                ratio(median(listing), median(bare)).c_str());
    std::fflush(stdout);

    // A select within one file system: moveFile against rename (and rename + folder fsync).
    const std::string photo(20 << 20, '\x5a');
    const std::string a = root + "a", b = root + "b";
    QDir().mkpath(QFile::decodeName(a.c_str()));
    QDir().mkpath(QFile::decodeName(b.c_str()));
    writeFile(a + "/p.jpg", photo);
    std::vector<double> ours, plain, durable;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        double start = nowMs();
        failures += host().moveFile(a + "/p.jpg", b + "/p.jpg") ? 0 : 1;
        ours.push_back(nowMs() - start);
        start = nowMs();
        failures += ::rename((b + "/p.jpg").c_str(), (a + "/p.jpg").c_str()) == 0 ? 0 : 1;
        plain.push_back(nowMs() - start);
        ::rename((a + "/p.jpg").c_str(), (b + "/p.jpg").c_str());
        start = nowMs();
        failures += ::rename((b + "/p.jpg").c_str(), (a + "/p.jpg").c_str()) == 0 ? 0 : 1;
        syncFolder(a);
        durable.push_back(nowMs() - start);
    }
    std::printf("%-46s %12.3f %12.3f %8s%s\n", "select, same file system: moveFile / rename",
                median(ours), median(plain), ratio(median(ours), median(plain)).c_str(),
                failures ? " (failures!)" : "");
    std::printf("%-46s %12.3f %12.3f %8s\n", "  moveFile / rename + fsync(target folder)",
                median(ours), median(durable), ratio(median(ours), median(durable)).c_str());
    std::fflush(stdout);

    // Across file systems: a 20 MB photo from the temporary folder to crossTarget.
    struct stat rootStat {
    }, targetStat{};
    ::stat(root.c_str(), &rootStat);
    if (::stat(crossTarget.c_str(), &targetStat) != 0 || rootStat.st_dev == targetStat.st_dev) {
        std::printf("%-46s skipped: %s is not another file system\n", "select across file systems",
                    crossTarget.c_str());
    } else {
        const std::string source = a + "/big.jpg";
        const std::string target =
            crossTarget + "/selvana-bench-" + std::to_string(::getpid()) + ".jpg";
        std::vector<double> cross, peer, peerSynced;
        bool fellBack = false;
        failures = 0;
        auto place = [&] { // a fresh source, written back so no writeback is pending
            writeFile(source, photo);
            int fd = ::open(source.c_str(), O_RDONLY);
            ::fsync(fd);
            ::close(fd);
            ::unlink(target.c_str());
        };
        for (int r = 0; r < rounds; ++r) {
            place();
            double start = nowMs();
            failures += host().moveFile(source, target) ? 0 : 1;
            cross.push_back(nowMs() - start);
            place();
            start = nowMs();
            failures += copyRangeMove(source, target, fellBack) ? 0 : 1;
            peer.push_back(nowMs() - start);
            place();
            start = nowMs();
            failures += copyRangeMove(source, target, fellBack) ? 0 : 1;
            syncFolder(crossTarget);
            syncFolder(a);
            peerSynced.push_back(nowMs() - start);
        }
        ::unlink(target.c_str());
        std::snprintf(label, sizeof label, "select, %s -> %s, 20 MB", "/tmp", crossTarget.c_str());
        std::printf("%-46s %12.2f %12.2f %8s%s\n", label, median(cross), median(peer),
                    ratio(median(cross), median(peer)).c_str(), failures ? " (failures!)" : "");
        std::printf("%-46s %12.2f %12.2f %8s\n", "  moveFile / the same + fsync of both folders",
                    median(cross), median(peerSynced),
                    ratio(median(cross), median(peerSynced)).c_str());
        std::printf("  peer: copy_file_range%s + fdatasync + unlink\n",
                    fellBack ? " (refused across these file systems: read/write)" : "");
    }
    std::printf("Targets: listing within 1.5x of readdir; a select within 1.2x of rename, or of "
                "the durable copy across file systems.\n");

    host().setMessageHandler(nullptr);
    host().unregisterWindow(StationWindow::main, window);
    delete window;
    return 0;
}
