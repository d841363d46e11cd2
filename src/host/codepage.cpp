#include "host/codepage.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace
{

// Length of the character that starts at `p` in `encoding`, for skipping it as a whole.
size_t characterLength(const unsigned char *p, size_t left, const char *encoding)
{
    std::string_view name(encoding);
    if (name == "UTF-8") {
        unsigned char c = p[0];
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
        return n <= left ? n : 1;
    }
    if (name == "UTF-32LE")
        return left >= 4 ? 4 : left;
    // Double-byte code pages: a lead byte from 0x81 takes the next byte with it.
    return (p[0] >= 0x81 && left >= 2) ? 2 : 1;
}

struct IconvHandle {
    iconv_t cd;
    IconvHandle(const char *to, const char *from) : cd(iconv_open(to, from)) {}
    ~IconvHandle()
    {
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
    bool valid() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

} // namespace

std::optional<std::string> convertText(std::string_view text, const char *from, const char *to,
                                       Unconvertible policy)
{
    IconvHandle conv(to, from);
    if (!conv.valid())
        return std::nullopt;
    std::string out;
    std::vector<char> buffer(4 * text.size() + 16);
    auto *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char *outPtr = buffer.data();
        size_t outLeft = buffer.size();
        size_t rc = iconv(conv.cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), outPtr - buffer.data());
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // EILSEQ (invalid input or a character the target lacks) or EINVAL (cut short).
        if (policy == Unconvertible::fail)
            return std::nullopt;
        if (policy == Unconvertible::stop)
            break;
        size_t skip = characterLength(reinterpret_cast<unsigned char *>(in), inLeft, from);
        in += skip;
        inLeft -= skip;
        out.push_back('?');
        iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state.
    char *outPtr = buffer.data();
    size_t outLeft = buffer.size();
    iconv(conv.cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer.data(), outPtr - buffer.data());
    return out;
}

bool isValidUtf8(std::string_view text)
{
    return convertText(text, "UTF-8", "UTF-32LE", Unconvertible::fail).has_value();
}

std::string utf8ToCp936Text(std::string_view utf8)
{
    if (auto cp936 = convertText(utf8, "UTF-8", "CP936", Unconvertible::fail))
        return *cp936;
    // Character by character: code page 936 where it has the character, else GB18030.
    std::string out;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t n = characterLength(reinterpret_cast<const unsigned char *>(utf8.data() + pos),
                                   utf8.size() - pos, "UTF-8");
        std::string_view ch = utf8.substr(pos, n);
        if (auto c = convertText(ch, "UTF-8", "CP936", Unconvertible::fail))
            out += *c;
        else if (auto g = convertText(ch, "UTF-8", "GB18030", Unconvertible::fail))
            out += *g;
        else
            out += ch; // not valid UTF-8: keep the bytes as typed
        pos += n;
    }
    return out;
}
