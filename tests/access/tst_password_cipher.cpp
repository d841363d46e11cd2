// The password cipher and its text form, as the studios' existing dat.ini files hold it.
#include "access/password_cipher.h"
#include "host/codepage.h"

#include <gtest/gtest.h>

namespace
{

std::string allHighBytes()
{
    std::string bytes;
    for (int b = 0x80; b <= 0xFF; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

} // namespace

// Reference texts computed apart from this code, by a separate program following the written
// steps: they pin the one-based counters (plain RC4 gives other bytes).
TEST(PasswordCipher, KnownTextsUnderTheStationKey)
{
    struct Case {
        std::string plain;
        std::string key;
        const char *text;
    } cases[] = {
        {"1234", stationKey, "D4,D8,E7,C5,"},
        {"abc", stationKey, "84,88,B7,"},
        {"\xC3\xDC\xC2\xEB", stationKey, "26,36,16,1A,"}, // 密码 in code page 936
        {"\x80\xFF"
         "A",
         stationKey, "65,15,95,"},
        {"abc", "", "70,E9,09,"}, // an empty key: key bytes all zero
        {"", stationKey, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(encipher(c.plain, c.key), c.text) << c.text;
        EXPECT_EQ(decipher(c.text, c.key), c.plain) << c.text;
    }
}

TEST(PasswordCipher, RoundTripsAndTextShape)
{
    const std::string texts[] = {
        "a",
        "Password123",
        "\xC3\xDC\xC2\xEB",              // two double-byte characters
        utf8ToCp936Text("密码€abc测试"), // € is 0x80 in code page 936
        allHighBytes(),
        std::string(1000, 'x'), // no length limit: the keystream runs on
    };
    const std::string keys[] = {stationKey, "", "k", std::string(300, '\xFE')};
    for (const std::string &key : keys) {
        for (const std::string &plain : texts) {
            std::string text = encipher(plain, key);
            ASSERT_EQ(text.size(), 3 * plain.size());
            for (size_t i = 0; i < text.size(); i += 3) {
                EXPECT_NE(std::string("0123456789ABCDEF").find(text[i]), std::string::npos);
                EXPECT_NE(std::string("0123456789ABCDEF").find(text[i + 1]), std::string::npos);
                EXPECT_EQ(text[i + 2], ',');
            }
            EXPECT_EQ(decipher(text, key), plain);
            EXPECT_EQ(encipher(plain, key), text) << "no salt, no random value";
        }
    }
    EXPECT_EQ(encipher("\xC3\xDC\xC2\xEB", stationKey).size(), 12u);
}

TEST(PasswordCipher, ALongerPasswordExtendsTheTextOfItsPrefix)
{
    std::string longer = "secret" + allHighBytes();
    std::string full = encipher(longer, stationKey);
    for (size_t n = 0; n <= longer.size(); n += 7)
        EXPECT_EQ(full.substr(0, 3 * n), encipher(longer.substr(0, n), stationKey)) << n;
}

TEST(PasswordCipher, AChinesePasswordIsEncipheredAsItsCodePage936Bytes)
{
    // The same file as a Windows station writes for 密码; the typed text arrives as UTF-8.
    EXPECT_EQ(encipher(utf8ToCp936Text("密码"), stationKey), "26,36,16,1A,");
    EXPECT_EQ(decipher("26,36,16,1A,", stationKey), "\xC3\xDC\xC2\xEB");
}

TEST(PasswordCipher, ReadingIsLenient)
{
    std::string digits = encipher("ab", stationKey); // "XX,YY,"
    std::string bare = digits.substr(0, 2) + digits.substr(3, 2);
    std::string lower = bare;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string commaEveryDigit;
    for (char c : bare)
        commaEveryDigit += std::string(1, c) + ",";
    for (const std::string &text : {bare, lower, commaEveryDigit, ",," + bare, digits})
        EXPECT_EQ(decipher(text, stationKey), "ab") << text;

    // An odd count ends with a one-digit pair: a final lone 7 is the enciphered byte 7. Stray
    // bytes count -2 each: a line break after the last group is one more enciphered byte, 222.
    std::string withSeven = decipher(bare + "7", stationKey);
    EXPECT_EQ(withSeven, decipher(digits + "07,", stationKey));
    EXPECT_EQ(withSeven.size(), 3u);
    std::string withLineBreak = decipher(digits + "\r\n", stationKey);
    EXPECT_EQ(withLineBreak, decipher(digits + "DE,", stationKey));
    EXPECT_EQ(withLineBreak.substr(0, 2), "ab");
    EXPECT_EQ(withLineBreak.size(), 3u);
}

TEST(PasswordCipher, AZeroByteEndsThePassword)
{
    std::string text = encipher(std::string("ab\0cd", 5), stationKey);
    EXPECT_EQ(decipher(text, stationKey), "ab");
    EXPECT_EQ(decipher(encipher(std::string("\0x", 2), stationKey), stationKey), "");
}

TEST(PasswordCipher, HexPairs)
{
    struct Case {
        const char *pair;
        int32_t value;
    } cases[] = {{"FF", 255}, {"ff", 255}, {"0a", 10},   {"7", 7},   {"00", 0},
                 {"G1", -31}, {"zz", -34}, {" \n", -34}, {"1G", 14}, {"", 0}};
    for (const Case &c : cases)
        EXPECT_EQ(hexPairValue(c.pair), c.value) << c.pair;
    EXPECT_EQ(hexPairValue("G1") & 0xFF, 225);
    EXPECT_EQ(hexPairValue("zz") & 0xFF, 222);
    for (int v : {0, 9, 10, 128, 255})
        EXPECT_EQ(hexPairValue(byteToHex(v)), v);
    EXPECT_EQ(byteToHex(10), "0A");
    EXPECT_EQ(byteToHex(0xAB), "AB");
}
