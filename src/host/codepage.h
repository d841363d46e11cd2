#pragma once
// Conversions of byte texts between encodings (UTF-8, code page 936, GB18030, Big5), through
// iconv. Nothing here depends on the process locale.

#include <optional>
#include <string>
#include <string_view>

// What a conversion does with input it cannot decode or a character the target lacks.
enum class Unconvertible {
    fail,     // the whole conversion fails (std::nullopt)
    question, // the character becomes "?"; invalid input bytes become "?" one byte at a time
    stop,     // the result ends just before it
};

// `from` and `to` are iconv names ("UTF-8", "CP936", "GB18030", "BIG5").
std::optional<std::string> convertText(std::string_view text, const char *from, const char *to,
                                       Unconvertible policy);

bool isValidUtf8(std::string_view text);

// A typed (UTF-8) text as the code page 936 bytes a Windows station would store; a character
// that code page lacks is written with its GB18030 bytes, so every text round-trips.
std::string utf8ToCp936Text(std::string_view utf8);
