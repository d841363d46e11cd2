#pragma once
// dat.ini, the file that holds the station password enciphered under the station key. It is
// read afresh for every login and every password change; nothing is cached.

#include <optional>
#include <string>

// The run directory followed by "/dat.ini".
std::string passwordFilePath();

// The password's bytes (code page 936 text). "" when dat.ini is missing or empty: the station
// then has the empty password. std::nullopt when dat.ini exists but cannot be read (no
// permission, an I/O error, not a regular file): such a file must not let anyone in. The
// content is taken up to its first byte 0 or 26, as a whole-text read of it always has been.
std::optional<std::string> loadStationPassword();

// Replaces dat.ini with `password` enciphered, all or nothing: the text goes to a temporary file
// beside it, is synced and then renamed over it. False when that failed; dat.ini is then as it
// was. The empty password gives a 0-byte file.
bool storeStationPassword(const std::string &password);

// The same for a password file at `path` (the two above use passwordFilePath()).
std::optional<std::string> loadPasswordFrom(const std::string &path);
bool storePasswordTo(const std::string &path, const std::string &password);

// Seam for tests (never used by the station itself): dat.ini lives in `folder` instead of the
// run directory, so that test programs running side by side do not share one file. "" restores
// the run directory.
void setPasswordFolderForTests(const std::string &folder);
