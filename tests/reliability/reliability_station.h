#pragma once
// Helpers of the reliability tests: a customer's photos recorded by name and bytes, a check that
// every one of them still exists byte for byte after whatever happened to the tree, and a
// station opened on a tree outside a test fixture (for the command drivers run as a process).

#include "app/station_state.h"
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "host/host_services.h"
#include "ui/main_window.h"

#include <QComboBox>
#include <QWidget>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace reliability
{

inline std::string readBytes(const std::string &path)
{
    return host().readWholeFile(path);
}

inline void writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Removes a folder and everything in it, whatever bytes the names hold.
inline void removeTree(const std::string &folder)
{
    if (DIR *dir = ::opendir(folder.c_str())) {
        while (dirent *entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "/" + name;
            struct stat s {
            };
            if (::lstat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode))
                removeTree(path);
            else
                ::unlink(path.c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

// Every regular file under `folder` (hidden ones and hidden folders included), as the path
// relative to `folder`.
inline void listTree(const std::string &folder, const std::string &prefix,
                     std::vector<std::string> &files)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat s {
        };
        if (::lstat((folder + "/" + name).c_str(), &s) != 0)
            continue;
        if (S_ISDIR(s.st_mode))
            listTree(folder + "/" + name, prefix + name + "/", files);
        else
            files.push_back(prefix + name);
    }
    ::closedir(dir);
}

inline std::string baseName(const std::string &relative)
{
    size_t slash = relative.rfind('/');
    return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// The name a photo kept in the deleted-photos folder started as: "a (2).jpg" was "a.jpg".
inline std::string unnumberedName(const std::string &name)
{
    size_t open = name.rfind(" (");
    size_t close = name.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open + 3)
        return name;
    for (size_t i = open + 2; i < close; ++i)
        if (name[i] < '0' || name[i] > '9')
            return name;
    return name.substr(0, open) + name.substr(close + 1);
}

inline bool isStationTemporary(const std::string &name)
{
    return name.rfind(".selvana-", 0) == 0 && name.size() > 4 &&
           name.compare(name.size() - 4, 4, ".tmp") == 0;
}

// What a look over the customer's tree found.
struct TreeAudit {
    std::vector<std::string> problems;    // lost, corrupted or strange files: must stay empty
    std::vector<std::string> temporaries; // hidden temporary copies left by an interruption
    int photoFiles = 0;
};

// Checks the customer folder against the photos it started with (name -> bytes): each photo
// still exists somewhere under it, byte for byte, and every file under a photo's name (or a
// numbered variant of it in the deleted-photos folder) holds exactly that photo's bytes.
// `ignored` names files the test itself put there that are no photos (a disk filler).
inline TreeAudit auditTree(const std::string &customerFolder,
                           const std::map<std::string, std::string> &photos,
                           const std::vector<std::string> &ignored = {})
{
    TreeAudit audit;
    std::map<std::string, int> found;
    std::vector<std::string> files;
    listTree(customerFolder, "", files);
    for (const std::string &relative : files) {
        std::string name = baseName(relative);
        if (isStationTemporary(name)) {
            audit.temporaries.push_back(relative);
            continue;
        }
        bool skip = false;
        for (const std::string &i : ignored)
            skip = skip || name == i;
        if (skip)
            continue;
        auto photo = photos.find(unnumberedName(name));
        if (photo == photos.end() && unnumberedName(name) != name) {
            // A numbered name may have its stem shortened to fit 255 bytes.
            std::string shortened = unnumberedName(name);
            size_t dot = shortened.rfind('.');
            std::string stem = shortened.substr(0, dot);
            std::string extension = dot == std::string::npos ? "" : shortened.substr(dot);
            for (auto it = photos.begin(); it != photos.end(); ++it)
                if (it->first.size() > shortened.size() && it->first.rfind(stem, 0) == 0 &&
                    it->first.size() >= extension.size() &&
                    it->first.compare(it->first.size() - extension.size(), extension.size(),
                                      extension) == 0)
                    photo = it;
        }
        if (photo == photos.end()) {
            audit.problems.push_back("unexpected file " + relative);
            continue;
        }
        ++audit.photoFiles;
        if (readBytes(customerFolder + "/" + relative) != photo->second)
            audit.problems.push_back("wrong bytes in " + relative);
        else
            ++found[photo->first];
    }
    for (const auto &[name, bytes] : photos)
        if (found[name] == 0)
            audit.problems.push_back("lost " + name);
    return audit;
}

// Chooses a list item by its bytes as the user would (raising the item-chosen event).
inline bool chooseItem(const char *control, const std::string &item)
{
    auto *combo = qobject_cast<QComboBox *>(host().control(StationWindow::main, control));
    if (!combo)
        return false;
    for (int i = 0; i < combo->count(); ++i) {
        QByteArray bytes = combo->itemData(i).toByteArray();
        if (std::string(bytes.constData(), static_cast<size_t>(bytes.size())) == item) {
            combo->setCurrentIndex(i);
            emit combo->activated(i);
            return true;
        }
    }
    return false;
}

// The station after a login of `customer` on `root` (ending with "/"): the real main window
// (not shown), both folder lists filled, the first photo shown. Messages go to `onMessage`.
inline QWidget *openStation(const std::string &root, const std::string &customer,
                            std::function<void(const std::string &)> onMessage)
{
    station() = StationState{};
    QWidget *window = createMainWindow();
    host().setMessageHandler(std::move(onMessage));
    station().photoRoot = root;
    station().customer = customer;
    station().loggedIn = 1;
    fillSourceList();
    fillProjectList();
    refreshTotal();
    refreshSelectedCount();
    return window;
}

inline void closeStation(QWidget *window)
{
    host().setMessageHandler(nullptr);
    host().unregisterWindow(StationWindow::main, window);
    delete window;
}

// Resident and peak resident memory of this process, in KiB (from /proc/self/status).
inline long memoryKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    std::string wanted = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(wanted, 0) == 0)
            return std::stol(line.substr(wanted.size()));
    return -1;
}

// Starts a fresh peak: VmHWM becomes the present resident size.
inline void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

} // namespace reliability
