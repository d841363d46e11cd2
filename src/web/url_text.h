#pragma once
// Searching and cutting code page 936 text, and taking a URL apart, the way the exchange worker
// does it. Positions count bytes from 1; a search yields the position of its first match or -1.
// A match never begins on the second byte of a double-byte character (a lead byte 81 to FE takes
// the next byte with it); ignoring case folds only the ASCII letters of single-byte characters.

#include <string>
#include <string_view>

// Finds `what` from position `start` (below 1 counts as 1); an empty `what` is never found.
int findText(std::string_view text, std::string_view what, int start, bool ignoreCase);
bool containsText(std::string_view text, std::string_view what, bool ignoreCase);
// Lower-cases the single-byte ASCII letters; double-byte characters stay as they are.
std::string lowerAscii(std::string_view text);
// Without spaces and full-width spaces (A1 A1) at both ends.
std::string trimText(std::string_view text);

// The name between the scheme and the first "/" or ":", in lower case. Only "http://" and
// "https://" written in small letters are removed, wherever they occur.
std::string urlHost(std::string_view url);
// From the first "/" at or after the host (found ignoring case) to the end, query included;
// "/" when there is none.
std::string urlPath(std::string_view url);
// The number after the ":" of the host part, 80 when none is written. Full-width digits count
// as digits; reading stops at the first byte that cannot continue a number; 0 when the text
// does not begin with one.
int urlPort(std::string_view url);

// The part of `text` between the start marker (searched from `start`) and the end marker
// (searched in the rest, again from `start`); "" when either is missing. "#引号" in a marker
// stands for a double quote.
std::string textBetween(std::string_view text, std::string_view startMarker,
                        std::string_view endMarker, int start, bool caseSensitive);
// The text before the separator (searched from `start`); "" when the separator is missing.
std::string textBefore(std::string_view text, std::string_view separator, int start,
                       bool ignoreCase);
