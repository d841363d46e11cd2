// The password cipher on arbitrary dat.ini content: reading it never fails, never yields a zero
// byte and never more bytes than the text holds pairs; a two-digit pair always lies in -34..255;
// and whatever is enciphered (without a zero byte) deciphers back to itself, under the station
// key and under any other, also when the text is read back in small letters.
#include "access/password_cipher.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace
{

void check(bool holds)
{
    if (!holds)
        std::abort();
}

std::string lowerLetters(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void checkRoundTrip(const std::string &plain, const std::string &key)
{
    std::string text = encipher(plain, key);
    check(text.size() == 3 * plain.size());
    for (size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        check(at % 3 == 2 ? c == ',' : (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    }
    check(decipher(text, key) == plain);
    check(decipher(lowerLetters(text), key) == plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string content(reinterpret_cast<const char *>(data), size);

    // As the login reads it: the whole text, and the text up to a zero byte or the mark 26.
    std::string cut = content.substr(0, content.find_first_of(std::string_view("\0\x1A", 2)));
    for (const std::string &text : {content, cut}) {
        std::string password = decipher(text, stationKey);
        check(password.find('\0') == std::string::npos);
        check(password.size() <= (text.size() + 1) / 2);
    }

    for (size_t at = 0; at < size; ++at) {
        int32_t one = hexPairValue(content.substr(at, 1));
        check(one >= -2 && one <= 15);
        if (at + 1 < size) {
            int32_t two = hexPairValue(content.substr(at, 2));
            check(two >= -34 && two <= 255);
        }
    }
    hexPairValue(content); // a long text wraps around, without undefined behaviour

    // The key: the station's, none at all, and the input's first bytes up to a comma.
    std::string plain = content.substr(0, content.find('\0'));
    checkRoundTrip(plain, stationKey);
    checkRoundTrip(plain, "");
    checkRoundTrip(plain, content.substr(0, content.find(',')));
    return 0;
}
