#include "host/picture_cache.h"

#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr size_t maxPictures = 5; // a few screen-sized pictures: the shown one and its neighbours

// Which file a picture was decoded from.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    bool operator==(const FileIdentity &o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

FileIdentity identityOf(const struct stat &s)
{
    return {s.st_dev, s.st_ino, s.st_size, s.st_mtim};
}

bool currentIdentity(const std::string &path, FileIdentity &identity)
{
    struct stat s {
    };
    if (::stat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode))
        return false;
    identity = identityOf(s);
    return true;
}

// Decodes the file and tells which file it was, from the very descriptor that was read.
CanvasPicture decodeIdentified(const std::string &path, QSize area, FileIdentity &identity)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    CanvasPicture picture;
    struct stat s {
    };
    if (::fstat(fd, &s) == 0 && S_ISREG(s.st_mode)) {
        identity = identityOf(s);
        picture = decodeCanvasPictureDescriptor(fd, area);
    }
    ::close(fd);
    return picture;
}

} // namespace

CanvasPicture decodePhotoFile(const std::string &path, QSize area)
{
    return decodeCanvasPictureFile(path, area);
}

struct PictureCache::State {
    enum class Stage { queued, decoding, ready };
    struct Entry {
        Stage stage = Stage::queued;
        QSize area;
        CanvasPicture picture;
        FileIdentity identity;
        quint64 age = 0;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Entry> entries;
    std::deque<std::string> queue;
    std::vector<std::thread> workers;
    quint64 clock = 0;
    bool stopping = false;
    bool enabled = true;

    void work()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping)
                return;
            std::string path = queue.front();
            queue.pop_front();
            auto it = entries.find(path);
            if (it == entries.end() || it->second.stage != Stage::queued)
                continue;
            it->second.stage = Stage::decoding;
            QSize area = it->second.area;
            lock.unlock();
            FileIdentity identity;
            CanvasPicture picture = decodeIdentified(path, area, identity);
            lock.lock();
            it = entries.find(path); // it may have been dropped meanwhile: the result goes too
            if (it != entries.end() && it->second.stage == Stage::decoding &&
                it->second.area == area) {
                it->second.picture = std::move(picture);
                it->second.identity = identity;
                it->second.stage = Stage::ready;
            }
            changed.notify_all();
        }
    }

    void dropOldest()
    {
        while (entries.size() > maxPictures) {
            auto oldest = entries.begin();
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->second.age < oldest->second.age)
                    oldest = it;
            entries.erase(oldest);
        }
    }
};

PictureCache::PictureCache() : state_(std::make_shared<State>())
{
    // Two decodes run side by side on the two cores without slowing each other.
    unsigned count = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < count; ++i)
        state_->workers.emplace_back([state = state_] { state->work(); });
}

PictureCache::~PictureCache()
{
    stop();
}

void PictureCache::stop()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->queue.clear();
    }
    state_->changed.notify_all();
    for (std::thread &worker : state_->workers)
        if (worker.joinable())
            worker.join();
    state_->workers.clear();
}

CanvasPicture PictureCache::picture(const std::string &path, QSize area)
{
    using Stage = State::Stage;
    FileIdentity now;
    bool exists = currentIdentity(path, now);
    {
        std::unique_lock lock(state_->mutex);
        auto it = state_->entries.find(path);
        if (it != state_->entries.end() && it->second.area == area) {
            if (it->second.stage == Stage::decoding) {
                // The decode in progress is the quickest way to the picture.
                state_->changed.wait(lock, [&] {
                    auto found = state_->entries.find(path);
                    return state_->stopping || found == state_->entries.end() ||
                           found->second.stage != Stage::decoding;
                });
                it = state_->entries.find(path);
            }
            if (exists && it != state_->entries.end() && it->second.stage == Stage::ready &&
                it->second.identity == now) {
                it->second.age = ++state_->clock;
                return it->second.picture;
            }
        }
        if (it != state_->entries.end())
            state_->entries.erase(it); // stale, queued or for another area: decoded now instead
    }
    FileIdentity identity;
    CanvasPicture picture = decodeIdentified(path, area, identity);
    std::lock_guard lock(state_->mutex);
    if (state_->enabled && !state_->stopping && !picture.image.isNull()) {
        state_->entries[path] =
            State::Entry{Stage::ready, area, picture, identity, ++state_->clock};
        state_->dropOldest();
    }
    return picture;
}

void PictureCache::prefetch(const std::vector<std::string> &paths, const std::string &keep,
                            QSize area)
{
    using Stage = State::Stage;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->enabled || state_->stopping)
            return;
        state_->queue.clear();
        for (auto it = state_->entries.begin(); it != state_->entries.end();) {
            bool wanted = it->first == keep;
            for (const std::string &path : paths)
                wanted = wanted || (it->first == path && it->second.area == area);
            it = wanted ? std::next(it) : state_->entries.erase(it);
        }
        for (const std::string &path : paths) {
            State::Entry &entry = state_->entries[path];
            entry.age = ++state_->clock;
            if (entry.stage == Stage::queued) {
                entry.area = area;
                state_->queue.push_back(path);
            }
        }
        if (auto it = state_->entries.find(keep); it != state_->entries.end())
            it->second.age = ++state_->clock;
        state_->dropOldest();
    }
    state_->changed.notify_all();
}

void PictureCache::clear()
{
    std::lock_guard lock(state_->mutex);
    state_->queue.clear();
    state_->entries.clear();
    state_->changed.notify_all();
}

void PictureCache::setEnabled(bool enabled)
{
    std::lock_guard lock(state_->mutex);
    state_->enabled = enabled;
    if (!enabled) {
        state_->queue.clear();
        state_->entries.clear();
    }
    state_->changed.notify_all();
}
