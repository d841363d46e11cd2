#pragma once
// The seven byte-string slots that carry one web request to the exchange worker and its result
// back, and their form in the exchange stream. Request and result give the slots different
// meanings:
//   slot  request                         result
//   1     the URL                         the response body, bytes as received
//   2     "GET" or "POST"                 the cookie text the response set ("a=1;b=2;")
//   3     the proxy text ("" direct)      unchanged
//   4     extra header lines, CR LF each  unchanged
//   5     the request body                unchanged
//   6     the cookie text to send         the raw response header text
//   7     "真" follow redirections, "假" not   unchanged
// Texts are code page 936 bytes without a terminating zero.

#include <array>
#include <string>

class MemoryStream;

struct ExchangeRecord {
    std::array<std::string, 7> slots;
    std::string &slot(int number) { return slots[number - 1]; } // 1 to 7
    const std::string &slot(int number) const { return slots[number - 1]; }
};

// From the stream's start: the seven slots in order, each framed by its 32-bit little-endian
// byte count. A write fails when a slot is too long to count; a read fails when the stream ends
// before the seventh slot.
bool writeRecord(MemoryStream &stream, const ExchangeRecord &record);
bool readRecord(MemoryStream &stream, ExchangeRecord &record);

// A slot "read as text": its bytes up to, not including, the first zero byte.
std::string slotText(const std::string &slot);
