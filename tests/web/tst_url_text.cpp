// The exchange rules that need no network: text search and URL parts, the request the worker
// builds, the cookie text it reads back, the exchange stream and the body conversions.
#include "host/codepage.h"
#include "host/memory_stream.h"
#include "web/exchange_record.h"
#include "web/exchange_request.h"
#include "web/text_conversions.h"
#include "web/url_text.h"

#include <gtest/gtest.h>

namespace
{

std::string gbk(const std::string &utf8)
{
    return utf8ToCp936Text(utf8);
}

std::string big5(const std::string &utf8)
{
    return convertText(utf8, "UTF-8", "CP950", Unconvertible::fail).value();
}

const std::string acceptLine =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";

} // namespace

TEST(TextSearch, FindsWholeCharactersOnlyAndFoldsOnlyAsciiLetters)
{
    struct Case {
        std::string text, what;
        int start;
        bool ignoreCase;
        int expected;
    } cases[] = {
        {"abcABC", "C", 1, false, 6},
        {"abcABC", "C", 1, true, 3},
        {"abcABC", "b", 3, true, 5},
        {"abc", "a", 0, false, 1},     // below 1 counts as 1
        {"abc", "", 1, false, -1},     // nothing to find
        {"abc", "abcd", 1, false, -1}, // longer than the text
        // 啊 (B0 A1) then A1 B0: the bytes A1 A1 straddle two characters.
        {"\xB0\xA1\xA1\xB0", "\xA1\xA1", 1, false, -1},
        {"\xB0\xA1\xA1\xA1", "\xA1\xA1", 1, false, 3},
        // A start position on a second byte moves on to the next character.
        {"\xB0\x61\x61", "a", 2, false, 3},
        // A trail byte that looks like an ASCII letter is no letter.
        {"\x81\x41", "a", 1, true, -1},
        {"\x81\x41", "\x81\x61", 1, true, -1},
        {"x\x81\x41", "X\x81\x41", 1, true, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(findText(c.text, c.what, c.start, c.ignoreCase), c.expected)
            << c.text << " / " << c.what;
}

TEST(TextSearch, LowerCasesAndTrimsCharacterByCharacter)
{
    EXPECT_EQ(lowerAscii("AbC\x81\x41Z"), "abc\x81\x41z");
    struct Case {
        std::string text, expected;
    } trims[] = {
        {"  \xA1\xA1 ab c\xA1\xA1  ", "ab c"},
        {" \xA1\xA1 ", ""},
        {"\xB0\xA1\xA1\xA1", "\xB0\xA1"}, // 啊 and a full-width space
        {"\xC0\xA1\xA1", "\xC0\xA1\xA1"}, // the last A1 A1 is no full-width space
        {"\tx\t", "\tx\t"},               // only spaces count
    };
    for (const Case &c : trims)
        EXPECT_EQ(trimText(c.text), c.expected) << c.text;
}

TEST(UrlParts, HostPathAndPortKeepTheStationsQuirks)
{
    struct Case {
        std::string url, host, path;
        int port;
    } cases[] = {
        {"http://www.Example.com/a/b", "www.example.com", "/a/b", 80},
        {"http://Host.com:8080/p?q=1&r=/s", "host.com", "/p?q=1&r=/s", 8080},
        {"http://host.com", "host.com", "/", 80},
        {"host.cn:82/x", "host.cn", "/x", 82},
        {"https://h.cn:8443/p", "h.cn", "/p", 0}, // the port is not read for HTTPS
        // Capital schemes stay: the host becomes "http", and the port text after "HTTP:" is "".
        {"HTTP://h.cn:81/x", "http", "//h.cn:81/x", 81},
        // Schemes are removed wherever they are; the host is then found in the scheme itself.
        {"http://a.com/?u=https://b.com/", "a.com", "/?u=https://b.com/", 80},
        {"http://h/x", "h", "//h/x", 80},
        // Full-width digits, a fraction, trailing junk, no number.
        {"http://h.cn:\xA3\xB8\xA3\xB0\xA3\xB8/", "h.cn", "/", 808},
        {"http://h.cn:8080.9/", "h.cn", "/", 8080},
        {"http://h.cn:81abc/", "h.cn", "/", 81},
        {"http://h.cn:abc/", "h.cn", "/", 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(urlHost(c.url), c.host) << c.url;
        EXPECT_EQ(urlPath(c.url), c.path) << c.url;
        EXPECT_EQ(urlPort(c.url), c.port) << c.url;
    }
}

TEST(TextCutting, BetweenAndBefore)
{
    struct Between {
        std::string text, from, to;
        int start;
        bool caseSensitive;
        std::string expected;
    } betweens[] = {
        {"User-Agent: X\r\nA: b", "user-agent:", "\r\n", 0, false, " X"},
        {"User-Agent: X\r\nA: b", "user-agent:", "\r\n", 0, true, ""},
        {"User-Agent: X", "User-Agent:", "\r\n", 0, false, ""}, // no end marker
        {"a=\"v\"", "=" + gbk("#引号"), gbk("#引号"), 1, true, "v"},
        // The end marker is searched in the rest from the same start position.
        {"a[1]b[2]", "[", "]", 4, true, ""},
        {"a[1]b[22]", "[", "]", 3, true, "22"},
    };
    for (const Between &c : betweens)
        EXPECT_EQ(textBetween(c.text, c.from, c.to, c.start, c.caseSensitive), c.expected)
            << c.text << " / " << c.from;
    EXPECT_EQ(textBefore("a=1; path=/", ";", 1, false), "a=1");
    EXPECT_EQ(textBefore("a=1", ";", 1, false), "");
    EXPECT_EQ(textBefore("xAy", "a", 0, true), "x");
    EXPECT_EQ(textBefore("xAy", "a", 1, false), "");
    EXPECT_EQ(textBefore("a;b;c", ";", 3, false), "a;b");
}

TEST(ExchangeRequest, FlagWordAsTheStationBuildsIt)
{
    struct Case {
        std::string cookies;
        bool follow, secure;
        uint32_t expected;
    } cases[] = {
        {"", true, false, 0x80004010},
        {"", false, false, 0x80204010},
        {"c=1", true, false, 0x80084010},
        {" \xA1\xA1 ", true, false, 0x80004010}, // blank cookie text: no cookie flag
        {"c=1", false, true, 0x800000},          // HTTPS stands alone
        {"", true, true, 0x800000},
    };
    for (const Case &c : cases)
        EXPECT_EQ(requestFlags(c.cookies, c.follow, c.secure), c.expected) << c.cookies;
    EXPECT_TRUE(isSecureUrl("http://a.cn/?u=HTTPS://b.cn"));
    EXPECT_FALSE(isSecureUrl("http://a.cn/https:/"));
}

TEST(ExchangeRequest, AgentAndAddress)
{
    EXPECT_EQ(agentText(""), defaultAgent);
    EXPECT_EQ(agentText("X: 1\r\nuser-AGENT:  Studio/1 \xA1\xA1\r\n"), "Studio/1");
    EXPECT_EQ(agentText("User-Agent: Studio/1"), ""); // no CR LF after it
    EXPECT_EQ(requestAddress("http://h.cn:8080/x?y=1"), "http://h.cn:8080/x?y=1");
    EXPECT_EQ(requestAddress("http://h.cn"), "http://h.cn:80/");
    EXPECT_EQ(requestAddress("http://h.cn/a b?n=\xD5\xC5\t"), "http://h.cn:80/a%20b?n=\xD5\xC5%09");
    EXPECT_EQ(requestAddress("https://h.cn:8443/p"), "https://h.cn:443/p");
    EXPECT_EQ(requestAddress("http://a.cn:81/?u=https://b.cn"), "https://a.cn:443/?u=https://b.cn");
}

TEST(ExchangeRequest, HeaderCompletionInOrder)
{
    const std::string url = "http://h.cn/p";
    const std::string referer = "Referer: http://h.cn/p\r\n";
    const std::string language = "Accept-Language: zh-cn\r\n";
    struct Case {
        std::string headers, method, body, cookies, expected;
    } cases[] = {
        {"", "GET", "", "", acceptLine + referer + language},
        // A plain search: Accept-Language counts as Accept.
        {"accept-language: en\r\n", "GET", "", "", "accept-language: en\r\n" + referer},
        {"X: RefererNo\r\n", "GET", "", "", "X: \r\n" + acceptLine + language},
        {"Referer: r\r\n", "GET", "", "", "Referer: r\r\n" + acceptLine + language},
        {"", "GET", "", "a=1", acceptLine + referer + language + "Cookie: a=1\r\n\r\n"},
        {"", "GET", "", "  ", acceptLine + referer + language + "Cookie:   \r\n\r\n"},
        {"", "POST", "x=1", "a=1",
         acceptLine + referer + language +
             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n"
             "Cookie: a=1\r\n\r\n"},
        {"content-type: text/plain\r\n", "POST", "x=1", "",
         "content-type: text/plain\r\n" + acceptLine + referer + language +
             "Content-Length: 3\r\n"},
        {"", "POST", "", "", acceptLine + referer + language},
        {"", "HEAD", "", "a=1", acceptLine + referer + language},
    };
    for (const Case &c : cases)
        EXPECT_EQ(completeHeaders(c.headers, url, c.method, c.body, c.cookies), c.expected)
            << c.headers << " " << c.method;
}

TEST(ExchangeResult, CookieTextFromSetCookieLines)
{
    struct Case {
        std::string headers, expected;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nset-cookie: b=2; Path=/x\r\n\r\n",
         "a=1;b=2;"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie: c=3\r\n\r\n", "c=3;"}, // no attributes: the whole pair
        {"Set-Cookie: a=1; p\nSet-Cookie: b=2; p\n", "a=1;b=2;"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie:a=1\r\n\r\n", ""}, // the name needs its space
        // The first 12 bytes go, wherever the name was found on the line.
        {"X-Set-Cookie: d=4; p\r\n", ": d=4;"},
        {"HTTP/1.1 200 OK\r\n\r\n", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cookiesFromHeaders(c.headers), c.expected) << c.headers;
}

TEST(ExchangeStream, SevenFramedSlotsFromTheStart)
{
    ExchangeRecord record;
    record.slot(1) = std::string("a\0b", 3);
    record.slot(2) = "GET";
    record.slot(7) = gbk("真");
    MemoryStream stream;
    ASSERT_TRUE(writeRecord(stream, record));
    EXPECT_EQ(stream.bytes().substr(0, 11), std::string("\x03\0\0\0a\0b\x03\0\0\0", 11));
    EXPECT_EQ(stream.bytes().size(), 7 * 4 + 3 + 3 + 2u);
    ExchangeRecord back;
    ASSERT_TRUE(readRecord(stream, back));
    EXPECT_EQ(back.slots, record.slots);
    EXPECT_EQ(slotText(back.slot(1)), "a");

    // A shorter record written over a longer one still reads back as itself.
    ExchangeRecord shorter;
    ASSERT_TRUE(writeRecord(stream, shorter));
    ASSERT_TRUE(readRecord(stream, back));
    EXPECT_EQ(back.slots, shorter.slots);

    // A stream that ends before the seventh slot, or inside one, is a failed read.
    for (size_t cut : {size_t(0), size_t(24), size_t(29)}) {
        MemoryStream cutStream;
        writeRecord(cutStream, record);
        MemoryStream truncated;
        truncated.write(cutStream.bytes().substr(0, cut));
        ExchangeRecord untouched;
        untouched.slot(3) = "kept";
        EXPECT_FALSE(readRecord(truncated, untouched)) << cut;
        EXPECT_EQ(untouched.slot(3), "kept");
    }
}

TEST(BodyConversions, ToCodePage936)
{
    struct Case {
        std::string input, expected;
    } utf8Cases[] = {
        {"简体中文 abc", gbk("简体中文 abc")},
        {std::string("前\0后", 7), gbk("前")}, // cut at the first zero byte
        {"表情😀。", gbk("表情") + "?" + gbk("。")},
        {"a\xFF\xFE"
         "b",
         "a??b"},
    };
    for (const Case &c : utf8Cases)
        EXPECT_EQ(utf8ToGbk(c.input), c.expected) << c.input;

    struct Case2 {
        std::string input, expected;
    } big5Cases[] = {
        {big5("電腦時間，這個東西"), gbk("电脑时间，这个东西")},
        {big5("電腦") + std::string(1, '\0') + big5("時間"), gbk("电脑")},
        {big5("電腦") + "\xFF" + big5("時間"), gbk("电脑")}, // invalid Big5 ends the text
        {"", ""},
    };
    for (const Case2 &c : big5Cases)
        EXPECT_EQ(big5ToSimplifiedGbk(c.input), c.expected);
}
