// A password change that cannot be written (a full disk, one that fills up in the middle of the
// write, a read-only folder) fails as a whole: the change is reported as failed, the old password
// (or, without dat.ini, the empty one) still logs in, the new one does not, dat.ini keeps its
// bytes and no temporary file is left. Once the fault is gone the change goes through.
#include "access/password_file.h"
#include "fault_mounts.h"

#include <QTemporaryDir>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

enum class Fault { fullDisk, diskFillsDuringWrite, readOnlyFolder };

struct Case {
    const char *name;
    Fault fault;
    std::string oldPassword; // "" : no dat.ini at all
};

// One fault on the folder that holds dat.ini, undone by `lift` or on destruction.
class PasswordFolderFault
{
  public:
    PasswordFolderFault(Fault fault, const std::string &folder) : fault_(fault), folder_(folder)
    {
        if (fault == Fault::readOnlyFolder) {
            readOnly_ = std::make_unique<ReadOnlyFolder>(folder);
            active_ = readOnly_->active();
            return;
        }
        // dat.ini lives on the small disk from the start; the fault is made by `apply`.
        disk_ = std::make_unique<SmallDisk>(folder, 256 * 1024);
        active_ = disk_->active();
    }

    bool active() const { return active_; }

    // Makes the fault happen (the read-only mount is in place from the start).
    void apply() const
    {
        if (!disk_)
            return;
        disk_->fill();
        // A few pages free again: the temporary file is created and partly written before the
        // disk runs out.
        if (fault_ == Fault::diskFillsDuringWrite) {
            std::string filler = folder_ + "/.filler";
            struct stat s {
            };
            if (::stat(filler.c_str(), &s) == 0)
                ::truncate(filler.c_str(), std::max<off_t>(0, s.st_size - 16 * 1024));
        }
    }

    void lift()
    {
        readOnly_.reset();
        if (disk_)
            ::unlink((folder_ + "/.filler").c_str());
    }

  private:
    Fault fault_;
    std::string folder_;
    bool active_ = false;
    std::unique_ptr<ReadOnlyFolder> readOnly_;
    std::unique_ptr<SmallDisk> disk_;
};

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> entries(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(folder.c_str());
    while (dirent *e = d ? ::readdir(d) : nullptr)
        if (std::string(e->d_name) != "." && std::string(e->d_name) != ".." &&
            std::string(e->d_name) != ".filler")
            names.push_back(e->d_name);
    if (d)
        ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether `typed` logs in now: the login compares it with dat.ini read afresh.
bool logsIn(const std::string &typed)
{
    std::optional<std::string> password = loadStationPassword();
    return password && *password == typed;
}

class PasswordFaults : public ::testing::TestWithParam<Case>
{
  protected:
    QTemporaryDir dir;
    std::string folder = dir.path().toStdString() + "/station";

    void SetUp() override
    {
        ::mkdir(folder.c_str(), 0755);
        setPasswordFolderForTests(folder);
    }
    void TearDown() override { setPasswordFolderForTests(""); }
};

} // namespace

TEST_P(PasswordFaults, FailedChangeKeepsTheOldPasswordAndTheChangeWorksOnceTheFaultIsGone)
{
    const Case &c = GetParam();
    std::string path = folder + "/dat.ini";
    // The small disk is mounted first and dat.ini written onto it; the read-only mount needs
    // dat.ini in place before it.
    std::unique_ptr<PasswordFolderFault> fault;
    if (c.fault != Fault::readOnlyFolder)
        fault = std::make_unique<PasswordFolderFault>(c.fault, folder);
    if (!c.oldPassword.empty()) {
        ASSERT_TRUE(storeStationPassword(c.oldPassword));
    }
    if (c.fault == Fault::readOnlyFolder)
        fault = std::make_unique<PasswordFolderFault>(c.fault, folder);
    ASSERT_TRUE(fault->active()) << "the test command runs as root and can mount";
    fault->apply();
    std::string before = fileBytes(path);
    std::vector<std::string> names = entries(folder);

    // Where a few pages are left, only a long password runs out of room.
    std::vector<std::string> newPasswords = {std::string(40000, 'n')};
    if (c.fault != Fault::diskFillsDuringWrite)
        newPasswords.insert(newPasswords.end(), {"new", "\xD0\xC2\xC3\xDC\xC2\xEB"});
    for (const std::string &password : newPasswords) {
        EXPECT_FALSE(storeStationPassword(password)) << password.size() << " bytes";
        EXPECT_TRUE(logsIn(c.oldPassword));
        EXPECT_FALSE(logsIn(password));
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(entries(folder), names) << "no temporary file is left";
    }

    fault->lift();
    EXPECT_TRUE(storeStationPassword("after"));
    EXPECT_TRUE(logsIn("after"));
    EXPECT_FALSE(logsIn(c.oldPassword));
    EXPECT_EQ(entries(folder), std::vector<std::string>{"dat.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PasswordFaults,
    ::testing::Values(Case{"FullDisk", Fault::fullDisk, "old"},
                      Case{"FullDiskWithoutPasswordFile", Fault::fullDisk, ""},
                      Case{"DiskFillsDuringTheWrite", Fault::diskFillsDuringWrite, "old"},
                      Case{"ReadOnlyFolder", Fault::readOnlyFolder, "old"},
                      Case{"ReadOnlyFolderWithoutPasswordFile", Fault::readOnlyFolder, ""}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });
