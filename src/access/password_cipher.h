#pragma once
// The stream cipher that keeps the station password in dat.ini, and its text form: one group of
// two upper-case hexadecimal digits and a "," per enciphered byte. Its counters hold one-based
// positions whose value enters the next sum, so it is not RC4 and no RC4 code can stand in for
// it; files written by the studios' existing stations depend on these exact steps.

#include <cstdint>
#include <string>

// The one key the station ever uses; built in, never read, shown or changed.
inline constexpr const char *stationKey = "517093146";

// The groups for the bytes of `plain` under `key`; "" for an empty text. No state between calls.
std::string encipher(const std::string &plain, const std::string &key);
// The bytes that `text` deciphers to under `key`, up to the first zero byte. Reading is lenient:
// commas may stand anywhere, letters in either case, any other byte is a digit of value -2, and
// an odd count ends with a one-digit pair.
std::string decipher(const std::string &text, const std::string &key);
// Two upper-case hexadecimal digits for `value` (0 to 255).
std::string byteToHex(int value);
// Digits of `pair` (one or two characters) read in base 16; a byte that is no hexadecimal digit
// counts -2, so "G1" gives -31 and two non-digits -34.
int32_t hexPairValue(const std::string &pair);
