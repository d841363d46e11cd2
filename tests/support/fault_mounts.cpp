#include "fault_mounts.h"

#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

ReadOnlyFolder::ReadOnlyFolder(const std::string &folder) : folder_(folder)
{
    if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return;
    if (::mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        ::umount2(folder.c_str(), MNT_DETACH);
        return;
    }
    active_ = true;
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    if (active_)
        ::umount2(folder_.c_str(), MNT_DETACH);
}

SmallDisk::SmallDisk(const std::string &folder, long bytes) : folder_(folder)
{
    ::mkdir(folder.c_str(), 0755);
    std::string options = "size=" + std::to_string(bytes);
    active_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk()
{
    if (active_)
        ::umount2(folder_.c_str(), MNT_DETACH);
}

void SmallDisk::fill() const
{
    std::string filler = folder_ + "/.filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return;
    char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    while (::write(fd, block, 1) > 0) {
    }
    ::close(fd);
}
