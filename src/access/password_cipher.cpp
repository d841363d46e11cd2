#include "access/password_cipher.h"

#include <array>
#include <cstddef>
#include <utility>

namespace
{

const char hexDigits[] = "0123456789ABCDEF";

using Permutation = std::array<unsigned, 256>;

// S and K are built afresh by every call: nothing survives between calls.
Permutation keySchedule(const std::string &key)
{
    Permutation s{};
    Permutation k{};
    for (unsigned n = 0; n < 256; ++n) {
        s[n] = n;
        k[n] = key.empty() ? 0u : static_cast<unsigned char>(key[n % key.size()]);
    }
    unsigned j = 0; // a one-based position: it addresses s[j - 1] and its value enters the sum
    for (unsigned n = 0; n < 256; ++n) {
        j = (j + s[n] + k[n]) % 256 + 1;
        std::swap(s[n], s[j - 1]);
    }
    return s;
}

// Combines `bytes` in place with the keystream that follows the key schedule.
void applyKeystream(Permutation &s, std::string &bytes)
{
    unsigned i = 0; // one-based, as j: after the first step it visits only odd indexes of s
    unsigned j = 0;
    for (char &byte : bytes) {
        i = (i + 1) % 256 + 1;
        j = (j + s[i - 1]) % 256 + 1;
        std::swap(s[i - 1], s[j - 1]);
        unsigned t = (s[i - 1] + s[j - 1]) % 256;
        byte = static_cast<char>(static_cast<unsigned char>(byte) ^ s[t]);
    }
}

int digitValue(char c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    for (int d = 0; d < 16; ++d)
        if (hexDigits[d] == c)
            return d;
    return -2;
}

} // namespace

std::string byteToHex(int value)
{
    return {hexDigits[(value >> 4) & 15], hexDigits[value & 15]};
}

int32_t hexPairValue(const std::string &pair)
{
    // Unsigned arithmetic: a longer text wraps instead of overflowing.
    uint32_t value = 0;
    for (char c : pair)
        value = value * 16 + static_cast<uint32_t>(digitValue(c));
    return static_cast<int32_t>(value);
}

std::string encipher(const std::string &plain, const std::string &key)
{
    std::string bytes = plain;
    Permutation s = keySchedule(key);
    applyKeystream(s, bytes);
    std::string text;
    text.reserve(bytes.size() * 3);
    for (char byte : bytes) {
        text += byteToHex(static_cast<unsigned char>(byte));
        text += ',';
    }
    return text;
}

std::string decipher(const std::string &text, const std::string &key)
{
    std::string digits;
    for (char c : text)
        if (c != ',')
            digits += c;
    std::string bytes;
    for (size_t pos = 0; pos < digits.size(); pos += 2)
        bytes += static_cast<char>(hexPairValue(digits.substr(pos, 2)) & 0xFF);
    Permutation s = keySchedule(key);
    applyKeystream(s, bytes);
    return bytes.substr(0, bytes.find('\0'));
}
