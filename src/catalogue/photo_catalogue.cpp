#include "catalogue/photo_catalogue.h"

#include "app/station_state.h"
#include "host/host_services.h"

#include <chrono>

namespace
{

void ensureTrailingSlash(std::string &folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
}

} // namespace

int listSubFolders(std::string &folder, std::vector<std::string> &list, bool withFullPath)
{
    ensureTrailingSlash(folder);
    FileSearch search(folder, "*", true);
    for (std::string name = search.next(); !name.empty(); name = search.next()) {
        if (name[0] != '.')
            list.push_back(withFullPath ? folder + name : name);
        host().processEvents();
    }
    return static_cast<int>(list.size());
}

int listFiles(std::string &folder, const std::string &pattern, std::vector<std::string> &list,
              bool withFullPath)
{
    ensureTrailingSlash(folder);
    // Qt cannot ask whether input is pending, so events are dispatched every 256 entries or
    // 20 ms, whichever comes first: a long listing never freezes the window.
    using Clock = std::chrono::steady_clock;
    auto lastDispatch = Clock::now();
    int sinceDispatch = 0;
    FileSearch search(folder, pattern, false);
    for (std::string name = search.next(); !name.empty(); name = search.next()) {
        list.push_back(withFullPath ? folder + name : name);
        if (++sinceDispatch >= 256 ||
            Clock::now() - lastDispatch >= std::chrono::milliseconds(20)) {
            host().processEvents();
            sinceDispatch = 0;
            lastDispatch = Clock::now();
        }
    }
    return static_cast<int>(list.size());
}

void fillProjectList()
{
    StationState &state = station();
    std::string folder = state.photoRoot + state.customer + "/";
    std::vector<std::string> names;
    listSubFolders(folder, names, false);
    for (const std::string &name : names)
        host().addListItem(StationWindow::main, "组合框1", state.customer + "/" + name);
    host().setControlIndex(StationWindow::main, "组合框1", 0);
}

void refreshSelectedCount()
{
    std::string folder =
        station().photoRoot + host().controlText(StationWindow::main, "组合框1") + "/";
    std::vector<std::string> names;
    int count = listFiles(folder, "*.jpg", names, false);
    host().setControlText(StationWindow::main, "标签2", "已选" + std::to_string(count) + "张");
}

void refreshTotal()
{
    host().setControlText(StationWindow::main, "标签1",
                          "共" + std::to_string(station().photoList.size()) + "张");
}
