#pragma once
// The one facade through which the station reaches windows and controls, files and the shell.
// Station operations never touch Qt widgets, the file system or the shell except through it.
// Texts are byte strings (std::string) end to end; they become QString only for display.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;
class PictureCache;

enum class StationWindow { main, login, passwordChange };

// Modifier bits of a hot key, as the station's key table gives them.
enum HotkeyModifier { hotkeyCtrl = 1, hotkeyShift = 2, hotkeyAlt = 4 };

class HostServices
{
  public:
    // ---- windows and controls (addressed by window + the control's objectName) ----
    void registerWindow(StationWindow window, QWidget *widget);
    void unregisterWindow(StationWindow window, QWidget *widget);
    QWidget *window(StationWindow window) const;
    QWidget *control(StationWindow window, const char *name) const;

    // A drop-down list's text is its chosen item's bytes ("" when none); a label's its caption;
    // an edit box's its text in UTF-8.
    std::string controlText(StationWindow window, const char *name) const;
    void setControlText(StationWindow window, const char *name, const std::string &text);
    int controlIndex(StationWindow window, const char *name) const; // -1 when none chosen
    // Choosing by program raises no item-chosen event; index 0 on an empty list chooses none.
    void setControlIndex(StationWindow window, const char *name, int index);
    int listItemCount(StationWindow window, const char *name) const;
    void addListItem(StationWindow window, const char *name, const std::string &text);
    void clearList(StationWindow window, const char *name);

    // Sets the canvas picture from the photo file at `path` (the file as it is on disk now).
    // Unreadable or undecodable data leaves the canvas without a picture.
    void setCanvasPictureFromFile(StationWindow window, const char *name, const std::string &path);
    // Decodes these photo files ahead for the canvas, in this order; `shown` stays cached.
    void prefetchCanvasPictures(StationWindow window, const char *name,
                                const std::vector<std::string> &paths, const std::string &shown);
    void forgetCanvasPictures(); // the pictures decoded ahead belong to another folder
    void setCanvasPrefetch(bool enabled);

    // Message box: the text, title "信息：", one OK button, no icon, modal for all station windows.
    void showMessage(const std::string &text);
    // Dispatches all pending window events, then returns.
    void processEvents();

    // Global hot key; returns 33000 + its sequence number in the process, 0 when refused. A press
    // raises the feedback event of the receiving control with (identifier, 0).
    int registerHotkey(StationWindow window, const char *receiver, int modifiers, int virtualKey);

    // Ends the process at once with `code`; the exit clean-up runs exactly once first.
    [[noreturn]] void endProcess(int code);
    void setExitCleanUp(std::function<void()> cleanUp);
    // Runs the exit clean-up if it has not run yet (also called when the message loop ends).
    void runExitCleanUp();

    // Styles 1 to 3: the themed (Fusion) look for every window, present and later; else default.
    void setThemedDrawing(int style);

    // ---- files ----
    std::string runDirectory() const; // the executable's folder, no trailing "/"
    bool copyFile(const std::string &source, const std::string &target);
    bool moveFile(const std::string &source, const std::string &target);
    // As moveFile, but never replaces an existing target: false when the name is taken.
    bool moveFileNoReplace(const std::string &source, const std::string &target);
    bool deleteFile(const std::string &path);
    bool makeFolder(const std::string &path); // true when it exists afterwards
    // Removes temporary files that an interrupted copy left in `folder` (older than 10 minutes,
    // so another station's copy in progress is never touched).
    void removeStaleTemporaryFiles(const std::string &folder);
    bool exists(const std::string &path) const;
    // The bytes of a regular file; empty when unreadable, not a regular file, or over 512 MiB.
    std::string readWholeFile(const std::string &path) const;

    // ---- shell ----
    void shellOpen(const std::string &path);

    // ---- time ----
    uint32_t uptimeMilliseconds() const;

    // ---- seams for tests (never used by the station itself) ----
    // When set, messages go to the handler instead of a modal box.
    void setMessageHandler(std::function<void(const std::string &)> handler);

  private:
    std::function<void(const std::string &)> messageHandler_;
    std::function<void()> exitCleanUp_;
    bool exitCleanUpDone_ = false;
    QWidget *windows_[3] = {nullptr, nullptr, nullptr};
    PictureCache *pictures_ = nullptr;
    PictureCache &pictures();
};

HostServices &host();

// A directory search: one entry name per call of next(), "" at the end, in the file system's own
// order, hidden entries included. `pattern` matches with "*" and "?" without regard to ASCII
// case. The folder filter delivers directories ("." and ".." too), the file filter every other
// entry (symbolic links resolved).
class FileSearch
{
  public:
    FileSearch(const std::string &folder, const std::string &pattern, bool foldersOnly);
    ~FileSearch();
    FileSearch(const FileSearch &) = delete;
    FileSearch &operator=(const FileSearch &) = delete;
    std::string next();

  private:
    void *dir_ = nullptr;
    std::string folder_;
    std::string pattern_;
    bool foldersOnly_;
};

// "*" and "?" wildcards, ASCII letters compared without regard to case, other bytes exactly.
bool matchesPattern(const std::string &name, const std::string &pattern);
