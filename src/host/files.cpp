// File operations of the host. Photos are the studio's livelihood: a copy is written under a
// hidden temporary name, synced and only then renamed over its target, so a crash or a full
// disk never leaves half a photo under a final name nor destroys the file it replaces.

#include "host/host_services.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr off_t maxReadableFile = 512LL * 1024 * 1024;

std::string folderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolder(const std::string &folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool copyContents(int from, int to)
{
    for (;;) {
        ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (n == 0)
            return true;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
            return false;
        break; // fall back to plain reads and writes
    }
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            done += w;
        }
    }
}

// Copies `source` to `target` through a synced temporary file in the target's folder. With
// `replace` false an existing target is kept and the copy fails.
bool durableCopy(const std::string &source, const std::string &target, bool replace = true)
{
    int from = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (from < 0)
        return false;
    struct stat sourceStat {
    };
    if (::fstat(from, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        ::close(from);
        return false;
    }
    std::string folder = folderOf(target);
    std::string temporary = folder + "/.selvana-XXXXXX.tmp";
    int to = ::mkostemps(temporary.data(), 4, O_CLOEXEC);
    if (to < 0) {
        ::close(from);
        return false;
    }
    bool ok = copyContents(from, to);
    ::close(from);
    ok = ok && ::fchmod(to, sourceStat.st_mode & 07777) == 0;
    // Studios sort by modification time: the copy keeps the photo's.
    timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ok = ok && ::futimens(to, times) == 0;
    ok = ok && ::fsync(to) == 0;
    ok = ::close(to) == 0 && ok;
    if (replace) {
        ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    } else {
        ok = ok && ::link(temporary.c_str(), target.c_str()) == 0;
        ::unlink(temporary.c_str());
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    syncFolder(folder);
    return true;
}

} // namespace

bool HostServices::copyFile(const std::string &source, const std::string &target)
{
    struct stat s {
    }, t{};
    if (::stat(source.c_str(), &s) == 0 && ::stat(target.c_str(), &t) == 0 && sameFile(s, t))
        return true; // a copy onto itself leaves the file untouched
    return durableCopy(source, target);
}

bool HostServices::moveFile(const std::string &source, const std::string &target)
{
    struct stat s {
    }, t{};
    if (::lstat(source.c_str(), &s) != 0)
        return false;
    if (::stat(target.c_str(), &t) == 0 && sameFile(s, t))
        return true;
    if (::rename(source.c_str(), target.c_str()) == 0) {
        syncFolder(folderOf(target));
        return true;
    }
    if (errno != EXDEV)
        return false;
    // Another file system: the source goes only once its copy is complete and synced. When it
    // cannot be removed both files stay and the move counts as failed.
    if (!durableCopy(source, target))
        return false;
    if (::unlink(source.c_str()) != 0)
        return false;
    syncFolder(folderOf(source));
    return true;
}

bool HostServices::moveFileNoReplace(const std::string &source, const std::string &target)
{
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        syncFolder(folderOf(target));
        return true;
    }
    if (errno != EXDEV)
        return false;
    if (!durableCopy(source, target, false))
        return false;
    if (::unlink(source.c_str()) != 0)
        return false;
    syncFolder(folderOf(source));
    return true;
}

bool HostServices::makeFolder(const std::string &path)
{
    if (::mkdir(path.c_str(), 0777) == 0)
        return true;
    struct stat s {
    };
    return errno == EEXIST && ::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

void HostServices::removeStaleTemporaryFiles(const std::string &folder)
{
    constexpr time_t staleAfterSeconds = 600;
    FileSearch search(folder, ".selvana-*.tmp", false);
    time_t now = ::time(nullptr);
    for (std::string name = search.next(); !name.empty(); name = search.next()) {
        std::string path = folder + "/" + name;
        struct stat s {
        };
        if (::lstat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode) &&
            now - s.st_mtim.tv_sec > staleAfterSeconds)
            ::unlink(path.c_str());
    }
}

bool HostServices::deleteFile(const std::string &path)
{
    return ::unlink(path.c_str()) == 0;
}

bool HostServices::exists(const std::string &path) const
{
    struct stat s {
    };
    return ::stat(path.c_str(), &s) == 0;
}

std::string HostServices::readWholeFile(const std::string &path) const
{
    // Non-blocking, so that a FIFO or device under a photo's name cannot hang the station.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat s {
    };
    std::string bytes;
    if (::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_size <= maxReadableFile) {
        bytes.resize(static_cast<size_t>(s.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        if (done < bytes.size())
            bytes.clear(); // shrank or failed while reading: unreadable
    }
    ::close(fd);
    return bytes;
}

std::string HostServices::runDirectory() const
{
    QByteArray dir = QFile::encodeName(QCoreApplication::applicationDirPath());
    std::string path(dir.constData(), static_cast<size_t>(dir.size()));
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool matchesPattern(const std::string &name, const std::string &pattern)
{
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
    size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lower(static_cast<unsigned char>(pattern[p])) ==
                                             lower(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

FileSearch::FileSearch(const std::string &folder, const std::string &pattern, bool foldersOnly)
    : dir_(::opendir(folder.empty() ? "." : folder.c_str())), folder_(folder), pattern_(pattern),
      foldersOnly_(foldersOnly)
{
    if (!folder_.empty() && folder_.back() != '/')
        folder_ += '/';
}

FileSearch::~FileSearch()
{
    if (dir_)
        ::closedir(static_cast<DIR *>(dir_));
}

std::string FileSearch::next()
{
    if (!dir_)
        return {};
    while (dirent *entry = ::readdir(static_cast<DIR *>(dir_))) {
        std::string name = entry->d_name;
        if (!matchesPattern(name, pattern_))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat s {
            };
            isFolder = ::stat((folder_ + name).c_str(), &s) == 0 && S_ISDIR(s.st_mode);
        }
        if (isFolder == foldersOnly_)
            return name;
    }
    return {};
}
