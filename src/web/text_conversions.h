#pragma once
// The body conversions of the web access call, to the station's code page 936. Both read their
// input as text: it ends at its first zero byte.

#include <string>

// UTF-8 to code page 936; a character the code page lacks, and invalid input, become "?".
std::string utf8ToGbk(const std::string &text);
// Big5 to code page 936 with traditional characters replaced by simplified ones; the result
// ends just before the first character the code page lacks (or the first invalid Big5 byte).
std::string big5ToSimplifiedGbk(const std::string &text);
