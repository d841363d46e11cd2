#include "catalogue/selection_commands.h"

#include "app/station_state.h"
#include "catalogue/photo_catalogue.h"
#include "host/host_services.h"

#include <algorithm>

namespace
{

const char *const noPhotosMessage = "没有发现相片";
const char *const originalsProtectedMessage = "原相片禁止删除";
// Our own messages: a file operation that did not happen is never passed over in silence.
const char *const noProjectFolderMessage = "没有项目文件夹，不能选定";
const char *const moveFailedMessage = "相片未能移入项目文件夹，仍在原处";
const char *const copyFailedMessage = "相片未能复制到项目文件夹";
const char *const moveBackFailedMessage = "相片未能移回原相片文件夹，仍在原处";
const char *const deleteFailedMessage = "相片未能删除，仍在原处";

// Deleted photos go to this hidden folder of the customer's, never away for good: a photo
// selected from the originals may exist nowhere else. Listings skip dot-names.
const char *const deletedPhotosFolder = ".回收站";
// The stock-in folder's name, also as code page 936 bytes (trees unpacked from Windows archives).
const char *const stockInName = "入库";
const char *const stockInNameCp936 = "\xC8\xEB\xBF\xE2";

std::string sourceFolderText()
{
    return host().controlText(StationWindow::main, "组合框2");
}

std::string projectFolderText()
{
    return host().controlText(StationWindow::main, "组合框1");
}

const std::string &currentName()
{
    return station().photoList[static_cast<size_t>(station().currentIndex - 1)];
}

std::string currentPhotoPath()
{
    return station().photoRoot + sourceFolderText() + "/" + currentName();
}

std::string projectPlace()
{
    return station().photoRoot + projectFolderText() + "/" + currentName();
}

std::string originalsPlace()
{
    return station().photoRoot + station().customer + "/" + currentName();
}

bool sourceIsOriginals()
{
    return sourceFolderText() == station().customer;
}

bool sourceIsStockIn()
{
    std::string source = sourceFolderText();
    const std::string &customer = station().customer;
    return source == customer + "/" + stockInName || source == customer + "/" + stockInNameCp936;
}

bool hasCurrentPhoto()
{
    const StationState &state = station();
    return state.currentIndex >= 1 &&
           state.currentIndex <= static_cast<int32_t>(state.photoList.size());
}

// The n-th name for `name` in the deleted-photos folder: the name itself, then "stem (n).ext",
// the stem shortened (never inside a UTF-8 character) so the name fits the file system's 255 bytes.
std::string numberedName(const std::string &name, int n)
{
    if (n == 1)
        return name;
    std::string stem = name, extension;
    if (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    std::string suffix = " (" + std::to_string(n) + ")" + extension;
    constexpr size_t maxName = 255;
    if (stem.size() + suffix.size() > maxName) {
        size_t keep = suffix.size() < maxName ? maxName - suffix.size() : 0;
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
            --keep;
        stem.resize(keep);
    }
    return stem + suffix;
}

// Moves the current photo into the deleted-photos folder under a name no earlier one has.
bool moveToDeletedPhotos(const std::string &photo)
{
    std::string folder = station().photoRoot + station().customer + "/" + deletedPhotosFolder;
    if (!host().makeFolder(folder))
        return false;
    const std::string &name = currentName();
    for (int n = 1; n < 10000; ++n) {
        std::string target = folder + "/" + numberedName(name, n);
        if (host().moveFileNoReplace(photo, target))
            return true;
        if (host().exists(target) && host().exists(photo))
            continue; // the name is taken: try the next
        return false;
    }
    return false;
}

std::string positionText()
{
    return std::to_string(station().currentIndex) + "/" +
           std::to_string(station().photoList.size()) + "         ";
}

// The photos the customer is likely to see next: the next, the previous and the one after next.
void prefetchNeighbours(const std::string &shown)
{
    const StationState &state = station();
    auto count = static_cast<int32_t>(state.photoList.size());
    std::string folder = state.photoRoot + sourceFolderText() + "/";
    std::vector<std::string> paths;
    for (int32_t step : {1, -1, 2}) {
        int32_t index = ((state.currentIndex - 1 + step) % count + count) % count;
        std::string path = folder + state.photoList[static_cast<size_t>(index)];
        if (path != shown && std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.push_back(path);
    }
    host().prefetchCanvasPictures(StationWindow::main, "画板1", paths, shown);
}

} // namespace

void fillSourceList()
{
    StationState &state = station();
    host().addListItem(StationWindow::main, "组合框2", state.customer);
    std::string folder = state.photoRoot + state.customer + "/";
    std::vector<std::string> names;
    listSubFolders(folder, names, false);
    for (const std::string &name : names)
        host().addListItem(StationWindow::main, "组合框2", state.customer + "/" + name);
    host().setControlIndex(StationWindow::main, "组合框2", 0);
    // Copies interrupted by a crash leave hidden temporary files behind; sweep the old ones.
    host().removeStaleTemporaryFiles(folder);
    host().removeStaleTemporaryFiles(folder + deletedPhotosFolder);
    for (const std::string &name : names)
        host().removeStaleTemporaryFiles(folder + name);
    loadPhotoList();
}

void loadPhotoList()
{
    StationState &state = station();
    state.photoList.clear();
    host().forgetCanvasPictures();
    FileSearch search(state.photoRoot + sourceFolderText(), "*.jpg", false);
    for (std::string name = search.next(); !name.empty(); name = search.next())
        state.photoList.push_back(std::move(name));
    state.currentIndex = 0;
    refreshTotal();
    showNext();
}

void showNext()
{
    StationState &state = station();
    if (state.photoList.empty()) {
        host().showMessage(noPhotosMessage);
        return;
    }
    ++state.currentIndex;
    if (state.currentIndex > static_cast<int32_t>(state.photoList.size()) ||
        state.currentIndex == 0)
        state.currentIndex = 1;
    showCurrentPhoto();
}

void showPrevious()
{
    StationState &state = station();
    if (state.photoList.empty()) {
        host().showMessage(noPhotosMessage);
        return;
    }
    --state.currentIndex;
    if (state.currentIndex > static_cast<int32_t>(state.photoList.size()) ||
        state.currentIndex <= 0)
        state.currentIndex = static_cast<int32_t>(state.photoList.size());
    showCurrentPhoto();
}

void showCurrentPhoto()
{
    if (!hasCurrentPhoto())
        return;
    std::string shown = currentPhotoPath();
    host().setCanvasPictureFromFile(StationWindow::main, "画板1", shown);
    refreshSelectedMarker();
    host().setControlText(StationWindow::main, "标签7", positionText());
    prefetchNeighbours(shown);
}

void refreshSelectedMarker()
{
    if (!hasCurrentPhoto())
        return;
    host().setControlText(StationWindow::main, "透明标签1",
                          host().exists(projectPlace()) ? "已选" : "");
}

void removeCurrentEntry()
{
    StationState &state = station();
    if (hasCurrentPhoto())
        state.photoList.erase(state.photoList.begin() + (state.currentIndex - 1));
    --state.currentIndex;
}

void selectCurrent()
{
    if (station().photoList.empty()) {
        host().showMessage(noPhotosMessage);
        return;
    }
    if (host().listItemCount(StationWindow::main, "组合框1") == 0 || projectFolderText().empty()) {
        // Without a project folder the photo would land in the photo root all customers share.
        host().showMessage(noProjectFolderMessage);
        return;
    }
    if (!hasCurrentPhoto()) {
        showNext();
        return;
    }
    bool done;
    if (sourceIsOriginals()) {
        done = host().moveFile(currentPhotoPath(), projectPlace());
        if (done)
            removeCurrentEntry();
    } else {
        done = host().copyFile(currentPhotoPath(), projectPlace());
    }
    if (done)
        showNext();
    else
        host().showMessage(sourceIsOriginals() ? moveFailedMessage : copyFailedMessage);
    refreshSelectedCount();
    refreshTotal();
}

void deleteCurrent()
{
    if (station().photoList.empty()) {
        host().showMessage(noPhotosMessage);
        return;
    }
    if (sourceIsOriginals()) {
        host().showMessage(originalsProtectedMessage);
        refreshTotal();
        return;
    }
    if (!hasCurrentPhoto()) {
        showNext();
        return;
    }
    bool stockIn = sourceIsStockIn();
    bool done = stockIn ? host().moveFile(currentPhotoPath(), originalsPlace())
                        : moveToDeletedPhotos(currentPhotoPath());
    if (done) {
        removeCurrentEntry();
        showNext();
    } else {
        host().showMessage(stockIn ? moveBackFailedMessage : deleteFailedMessage);
    }
    refreshTotal();
    refreshSelectedCount();
}
