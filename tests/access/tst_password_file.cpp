// dat.ini on disk: missing, empty, written by the station, damaged, unreadable, unwritable.
#include "access/password_cipher.h"
#include "access/password_file.h"
#include "fault_mounts.h"
#include "host/host_services.h"

#include <QTemporaryDir>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

class PasswordFile : public ::testing::Test
{
  protected:
    QTemporaryDir dir;
    std::string folder;
    std::string path;

    void SetUp() override
    {
        folder = dir.path().toStdString();
        ::chmod(folder.c_str(), 0755);
        path = folder + "/dat.ini";
        setPasswordFolderForTests(folder);
    }
    void TearDown() override { setPasswordFolderForTests(""); }

    void write(const std::string &bytes) const
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        DIR *d = ::opendir(folder.c_str());
        while (dirent *e = d ? ::readdir(d) : nullptr)
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        if (d)
            ::closedir(d);
        return names;
    }
};

} // namespace

TEST_F(PasswordFile, LivesInTheRunDirectory)
{
    setPasswordFolderForTests("");
    EXPECT_EQ(passwordFilePath(), host().runDirectory() + "/dat.ini");
    setPasswordFolderForTests(folder);
    EXPECT_EQ(passwordFilePath(), path);
}

TEST_F(PasswordFile, MissingFileIsTheEmptyPasswordAndStaysMissing)
{
    EXPECT_EQ(loadStationPassword(), std::string());
    EXPECT_FALSE(host().exists(path));
}

TEST_F(PasswordFile, StoredPasswordsReadBackAndTheEmptyOneIsAZeroByteFile)
{
    const std::string passwords[] = {"1234", "\xC3\xDC\xC2\xEB", "Ab\x80\xFF", "", "x"};
    for (const std::string &password : passwords) {
        ASSERT_TRUE(storeStationPassword(password));
        EXPECT_EQ(read(), encipher(password, stationKey));
        EXPECT_EQ(read().size(), 3 * password.size());
        EXPECT_EQ(loadStationPassword(), password);
        EXPECT_EQ(entries(), std::vector<std::string>{"dat.ini"}) << "no temporary file left";
    }
    write("");
    EXPECT_EQ(loadStationPassword(), std::string());
}

TEST_F(PasswordFile, ReadingEndsAtAZeroByteOrTheEndOfFileMark)
{
    std::string text = encipher("ab", stationKey);
    for (char end : {'\0', '\x1A'}) {
        write(text + end + encipher("cd", stationKey).substr(3));
        EXPECT_EQ(loadStationPassword(), "ab");
    }
    write(std::string("\x1A", 1) + text);
    EXPECT_EQ(loadStationPassword(), std::string());
}

TEST_F(PasswordFile, WindowsLineBreakAfterTheTextIsOneMoreByte)
{
    write(encipher("ab", stationKey) + "\r\n");
    std::optional<std::string> password = loadStationPassword();
    ASSERT_TRUE(password);
    EXPECT_EQ(*password, decipher(encipher("ab", stationKey) + "DE,", stationKey));
    EXPECT_EQ(password->size(), 3u);
}

// A file that exists but cannot be read is never the empty password.
TEST_F(PasswordFile, ExistingButUnreadableFileGivesNoPassword)
{
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); // a folder under the file's name
    EXPECT_EQ(loadStationPassword(), std::nullopt);
    ::rmdir(path.c_str());

    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); // a pipe: must neither hang nor count as empty
    EXPECT_EQ(loadStationPassword(), std::nullopt);
    ::unlink(path.c_str());
}

TEST_F(PasswordFile, FileWithoutReadPermissionGivesNoPassword)
{
    write(encipher("secret", stationKey));
    ::chmod(path.c_str(), 0600);
    // The tests run as root, whom permissions never stop: the read is made as another user
    // (file-system identity only, in a child process).
    EXPECT_EXIT(
        {
            ::setfsuid(65534);
            ::setfsgid(65534);
            std::_Exit(loadStationPassword() == std::nullopt ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(loadStationPassword(), "secret");
}

TEST_F(PasswordFile, StoreIntoAReadOnlyFolderFailsAndKeepsTheOldPassword)
{
    ASSERT_TRUE(storeStationPassword("old"));
    ReadOnlyFolder readOnly(folder); // a real read-only bind mount: writes fail with EROFS
    ASSERT_TRUE(readOnly.active());
    EXPECT_FALSE(storeStationPassword("new"));
    EXPECT_FALSE(storeStationPassword(""));
    EXPECT_EQ(loadStationPassword(), "old");
    EXPECT_EQ(entries(), std::vector<std::string>{"dat.ini"});
}

TEST_F(PasswordFile, StoreOnAFullDiskFailsAndKeepsTheOldPassword)
{
    std::string disk = folder + "/disk";
    SmallDisk small(disk, 64 * 1024);
    ASSERT_TRUE(small.active());
    setPasswordFolderForTests(disk);
    ASSERT_TRUE(storeStationPassword("old"));
    small.fill();
    EXPECT_FALSE(storeStationPassword(std::string(100000, 'n')));
    EXPECT_EQ(loadStationPassword(), "old");
    struct stat s {
    };
    DIR *d = ::opendir(disk.c_str());
    int temporaries = 0;
    while (dirent *e = d ? ::readdir(d) : nullptr)
        temporaries += std::string(e->d_name).rfind(".dat.ini-", 0) == 0;
    if (d)
        ::closedir(d);
    EXPECT_EQ(temporaries, 0);
    EXPECT_EQ(::stat((disk + "/dat.ini").c_str(), &s), 0);
}
