#pragma once
// Real file-system faults for tests, made with mounts (the test command runs as root, for whom
// permission bits alone never make a folder read-only). Each undoes itself on destruction.

#include <string>

// `folder` (existing, possibly holding files) becomes read-only through a read-only bind mount
// over itself.
class ReadOnlyFolder
{
  public:
    explicit ReadOnlyFolder(const std::string &folder);
    ~ReadOnlyFolder();
    bool active() const { return active_; }

  private:
    std::string folder_;
    bool active_ = false;
};

// A small tmpfs of `bytes` mounted on `folder` (created if missing): another file system that
// can be filled up.
class SmallDisk
{
  public:
    SmallDisk(const std::string &folder, long bytes);
    ~SmallDisk();
    bool active() const { return active_; }
    // Fills the disk so that no further byte fits.
    void fill() const;

  private:
    std::string folder_;
    bool active_ = false;
};
