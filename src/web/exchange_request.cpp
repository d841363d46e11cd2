#include "web/exchange_request.h"

#include "web/url_text.h"

namespace
{

const std::string crlf = "\r\n";

// One line of a header text ends at LF, a zero byte or 1A; a CR just before the end is dropped.
std::string nextLine(const std::string &text, size_t &pos)
{
    size_t end = text.find_first_of(std::string("\n\0\x1A", 3), pos);
    if (end == std::string::npos)
        end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace

bool isSecureUrl(const std::string &url)
{
    return containsText(lowerAscii(url), "https://", false);
}

std::string agentText(const std::string &headers)
{
    if (!containsText(headers, "User-Agent:", true))
        return defaultAgent;
    return trimText(textBetween(headers, "User-Agent:", crlf, 0, false));
}

uint32_t requestFlags(const std::string &cookies, bool followRedirects, bool secure)
{
    if (secure)
        return flagSecure;
    uint32_t flags = flagReload | flagNeedFile;
    if (!trimText(cookies).empty())
        flags |= flagNoCookies;
    if (!followRedirects)
        flags |= flagNoAutoRedirect;
    return flags | flagIgnoreRedirectToHttps;
}

std::string completeHeaders(std::string headers, const std::string &url, const std::string &method,
                            const std::string &body, const std::string &cookies)
{
    auto has = [&headers](const char *name) { return containsText(headers, name, true); };
    if (!has("Accept"))
        headers += "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
                   "application/x-shockwave-flash, application/vnd.ms-excel, "
                   "application/vnd.ms-powerpoint, application/msword, */*" +
                   crlf;
    if (has("RefererNo")) {
        int at = findText(headers, "RefererNo", 1, false);
        if (at > 0)
            headers.erase(at - 1, 9);
    } else if (!has("Referer")) {
        headers += "Referer: " + url + crlf;
    }
    if (!has("Accept-Language"))
        headers += "Accept-Language: zh-cn" + crlf;
    if (method == "POST" && !body.empty()) {
        if (!has("Content-Type"))
            headers += "Content-Type: application/x-www-form-urlencoded" + crlf;
        if (!has("Content-Length"))
            headers += "Content-Length: " + std::to_string(body.size()) + crlf;
    }
    if ((method == "GET" || method == "POST") && !cookies.empty())
        headers += "Cookie: " + cookies + crlf + crlf;
    return headers;
}

std::string requestAddress(const std::string &url)
{
    bool secure = isSecureUrl(url);
    int port = secure ? 443 : urlPort(url);
    // A request line cannot carry spaces or control bytes: they go out escaped, as a browser
    // sends them. Every other byte, code page 936 text included, goes as it is.
    std::string path;
    for (char c : urlPath(url)) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            static const char digits[] = "0123456789ABCDEF";
            path += '%';
            path += digits[byte >> 4];
            path += digits[byte & 0xF];
        } else {
            path += c;
        }
    }
    return (secure ? "https://" : "http://") + urlHost(url) + ":" + std::to_string(port) + path;
}

std::string cookiesFromHeaders(const std::string &rawHeaders)
{
    std::string cookies;
    if (!containsText(rawHeaders, "Set-Cookie: ", true))
        return cookies;
    size_t pos = 0;
    while (pos < rawHeaders.size()) {
        std::string line = nextLine(rawHeaders, pos);
        if (!containsText(line, "Set-Cookie: ", true))
            continue;
        // The first 12 bytes go, wherever on the line the name was found.
        line.erase(0, 12);
        // A cookie without attributes has no ";": its whole pair is taken.
        if (containsText(line, ";", false))
            cookies += textBefore(line, ";", 1, false);
        else
            cookies += line;
        cookies += ";";
    }
    return cookies;
}
