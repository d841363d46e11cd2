#pragma once
// Reads one value of a Windows-style INI file, as the Windows profile reader does: section and
// key names matched without regard to ASCII case, blanks around names and values ignored, ";"
// comment lines. The file may be UTF-8 (with or without BOM) or code page 936; the value comes
// back in the file system's encoding, UTF-8. Values are cut to 10239 bytes.

#include <string>

std::string readIniValue(const std::string &path, const std::string &section,
                         const std::string &key, const std::string &defaultValue);

// The same on text already in memory (UTF-8 or code page 936, any line ends).
std::string iniValueFromText(const std::string &text, const std::string &section,
                             const std::string &key, const std::string &defaultValue);
