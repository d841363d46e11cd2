// The password file's own reads and writes. They go to the system directly rather than through
// the host's whole-file read, because a missing file (the empty password) must be told apart
// from an unreadable one (no login), and because the file is replaced all or nothing: emptying
// it first, as a plain rewrite does, would leave the empty password behind after a crash or on
// a full disk.

#include "access/password_file.h"

#include "access/password_cipher.h"
#include "host/host_services.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string passwordFolder;

std::string folderOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The whole content of a regular file; std::nullopt when it cannot be read to its end.
std::optional<std::string> readRegularFile(int fd)
{
    struct stat s {
    };
    if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode))
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string passwordFilePath()
{
    return (passwordFolder.empty() ? host().runDirectory() : passwordFolder) + "/dat.ini";
}

void setPasswordFolderForTests(const std::string &folder)
{
    passwordFolder = folder;
}

std::optional<std::string> loadPasswordFrom(const std::string &path)
{
    // Non-blocking, so that a FIFO under the file's name cannot hang the login.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::string();
        return std::nullopt;
    }
    std::optional<std::string> text = readRegularFile(fd);
    ::close(fd);
    if (!text)
        return std::nullopt;
    // A whole-text read ends at a zero byte or the end-of-file mark 26.
    size_t end = text->find_first_of(std::string_view("\0\x1A", 2));
    return decipher(text->substr(0, end), stationKey);
}

bool storePasswordTo(const std::string &path, const std::string &password)
{
    std::string folder = folderOf(path);
    std::string temporary = folder + "/.dat.ini-XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // The replacement keeps the old file's permissions; a new file gets the usual ones.
    struct stat old {
    };
    mode_t mode =
        ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 07777 : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && writeAll(fd, encipher(password, stationKey));
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself is made durable; a failure here no longer endangers the old password.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::optional<std::string> loadStationPassword()
{
    return loadPasswordFrom(passwordFilePath());
}

bool storeStationPassword(const std::string &password)
{
    return storePasswordTo(passwordFilePath(), password);
}
