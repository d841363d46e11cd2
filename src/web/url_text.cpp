#include "web/url_text.h"

#include <climits>

namespace
{

bool isLeadByte(std::string_view text, size_t at)
{
    auto c = static_cast<unsigned char>(text[at]);
    return c >= 0x81 && c <= 0xFE && at + 1 < text.size();
}

char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool matchesAt(std::string_view text, size_t at, std::string_view what, bool ignoreCase)
{
    if (what.size() > text.size() - at)
        return false;
    bool trail = false;
    for (size_t i = 0; i < what.size(); ++i) {
        bool lead = !trail && isLeadByte(text, at + i);
        char a = text[at + i];
        char b = what[i];
        // Only a single-byte character is an ASCII letter; a trail byte that looks like one is
        // part of a Chinese character and compares exactly.
        if (ignoreCase && !lead && !trail) {
            a = foldAscii(a);
            b = foldAscii(b);
        }
        if (a != b)
            return false;
        trail = lead;
    }
    return true;
}

const std::string_view quoteMarker = "#\xD2\xFD\xBA\xC5"; // "#引号" in code page 936

std::string replaceQuoteMarker(std::string_view marker)
{
    std::string out;
    size_t pos = 0;
    while (pos < marker.size()) {
        if (marker.substr(pos, quoteMarker.size()) == quoteMarker) {
            out += '"';
            pos += quoteMarker.size();
        } else {
            out += marker[pos++];
        }
    }
    return out;
}

} // namespace

int findText(std::string_view text, std::string_view what, int start, bool ignoreCase)
{
    if (what.empty())
        return -1;
    size_t first = start < 1 ? 0 : static_cast<size_t>(start - 1);
    size_t at = 0;
    while (at < text.size()) {
        if (at >= first && matchesAt(text, at, what, ignoreCase))
            return static_cast<int>(at + 1);
        at += isLeadByte(text, at) ? 2 : 1;
    }
    return -1;
}

bool containsText(std::string_view text, std::string_view what, bool ignoreCase)
{
    return findText(text, what, 1, ignoreCase) > 0;
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    size_t at = 0;
    while (at < out.size()) {
        if (isLeadByte(out, at)) {
            at += 2;
            continue;
        }
        out[at] = foldAscii(out[at]);
        ++at;
    }
    return out;
}

std::string trimText(std::string_view text)
{
    size_t begin = std::string_view::npos;
    size_t end = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t length = isLeadByte(text, at) ? 2 : 1;
        std::string_view character = text.substr(at, length);
        if (character != " " && character != "\xA1\xA1") {
            if (begin == std::string_view::npos)
                begin = at;
            end = at + length;
        }
        at += length;
    }
    if (begin == std::string_view::npos)
        return {};
    return std::string(text.substr(begin, end - begin));
}

namespace
{

// One pass from the left, as a replace-all does: text that the removal joins is not searched again.
std::string removeAll(std::string_view text, std::string_view what)
{
    std::string out;
    size_t from = 0;
    for (int at; (at = findText(text, what, static_cast<int>(from) + 1, false)) > 0;) {
        out += text.substr(from, at - 1 - from);
        from = at - 1 + what.size();
    }
    out += text.substr(from);
    return out;
}

} // namespace

std::string urlHost(std::string_view url)
{
    std::string rest = removeAll(removeAll(url, "https://"), "http://");
    if (int slash = findText(rest, "/", 1, false); slash > 0)
        rest.resize(slash - 1);
    rest = lowerAscii(rest);
    if (int colon = findText(rest, ":", 1, false); colon > 0)
        rest.resize(colon - 1);
    return lowerAscii(rest);
}

std::string urlPath(std::string_view url)
{
    int hostAt = findText(url, urlHost(url), 1, true);
    int slash = findText(url, "/", hostAt, true);
    if (slash > 0)
        return std::string(url.substr(slash - 1));
    return "/";
}

namespace
{

// The text as a decimal number cut toward zero; full-width digits (A3 B0 to A3 B9) count.
int readNumber(std::string_view text)
{
    std::string ascii;
    size_t at = 0;
    while (at < text.size()) {
        auto c = static_cast<unsigned char>(text[at]);
        if (c == 0xA3 && at + 1 < text.size()) {
            auto d = static_cast<unsigned char>(text[at + 1]);
            if (d >= 0xB0 && d <= 0xB9) {
                ascii += static_cast<char>('0' + (d - 0xB0));
                at += 2;
                continue;
            }
        }
        if (c >= 0x80)
            break;
        ascii += static_cast<char>(c);
        ++at;
    }
    size_t pos = 0;
    bool negative = false;
    if (pos < ascii.size() && (ascii[pos] == '+' || ascii[pos] == '-'))
        negative = ascii[pos++] == '-';
    long long value = 0;
    for (; pos < ascii.size() && ascii[pos] >= '0' && ascii[pos] <= '9'; ++pos) {
        value = value * 10 + (ascii[pos] - '0');
        if (value > INT_MAX)
            value = INT_MAX; // saturates: no port that large exists anyway
    }
    // Any fraction is cut off; whatever follows ends the number.
    return static_cast<int>(negative ? -value : value);
}

} // namespace

int urlPort(std::string_view url)
{
    std::string_view hostPart;
    if (url.size() >= 7 && lowerAscii(url.substr(0, 7)) == "http://") {
        int slash = findText(url, "/", 8, false);
        hostPart = slash > 0 ? url.substr(7, slash - 8) : url.substr(7);
    } else {
        int slash = findText(url, "/", 1, false);
        hostPart = slash > 0 ? url.substr(0, slash - 1) : url;
    }
    int colon = findText(hostPart, ":", 1, false);
    return readNumber(colon > 0 ? hostPart.substr(colon) : std::string_view("80"));
}

std::string textBetween(std::string_view text, std::string_view startMarker,
                        std::string_view endMarker, int start, bool caseSensitive)
{
    std::string from = replaceQuoteMarker(startMarker);
    std::string to = replaceQuoteMarker(endMarker);
    int at = findText(text, from, start, !caseSensitive);
    if (at < 0)
        return {};
    std::string_view rest = text.substr(at - 1 + from.size());
    int end = findText(rest, to, start, !caseSensitive);
    if (end < 0)
        return {};
    return std::string(rest.substr(0, end - 1));
}

std::string textBefore(std::string_view text, std::string_view separator, int start,
                       bool ignoreCase)
{
    int at = findText(text, separator, start, ignoreCase);
    if (at < 0)
        return {};
    return std::string(text.substr(0, at - 1));
}
