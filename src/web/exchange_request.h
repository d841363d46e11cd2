#pragma once
// The rules of one exchange that need no network: which request goes out (secure flag, agent,
// flag word, completed header text, the address handed to the HTTP library) and what the answer
// yields (the cookie text). Texts are code page 936 bytes.

#include <cstdint>
#include <string>

// The request flags as the station has always computed them; their meanings are carried out by
// the exchange (reload: nothing cached; no automatic cookies; no automatic redirection; TLS).
enum RequestFlag : uint32_t {
    flagReload = 0x80000000,
    flagNeedFile = 0x10,
    flagNoCookies = 0x80000,
    flagNoAutoRedirect = 0x200000,
    flagSecure = 0x800000,
    flagIgnoreRedirectToHttps = 0x4000,
};

inline constexpr char defaultAgent[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";

// "https://" anywhere in the lower-cased URL, not only at its start.
bool isSecureUrl(const std::string &url);
// From a "User-Agent:" line of the header text (any case), trimmed, else the default agent.
std::string agentText(const std::string &headers);
// HTTPS stands alone (0x800000): such a request always follows redirections.
uint32_t requestFlags(const std::string &cookies, bool followRedirects, bool secure);
// The header text with the default lines appended in the station's order: Accept, Referer (or
// the "RefererNo" marker removed), Accept-Language, Content-Type and Content-Length for a POST
// with a body, and last the Cookie line closed by a second CR LF.
std::string completeHeaders(std::string headers, const std::string &url, const std::string &method,
                            const std::string &body, const std::string &cookies);
// The address actually requested: the scheme from the secure flag, the host, the port (443 for
// HTTPS whatever the URL says) and the path, each derived from the URL as the station does;
// spaces and control bytes of the path are escaped (%20).
std::string requestAddress(const std::string &url);
// The cookie text of a raw response header text: each Set-Cookie line's name=value pair and ";".
std::string cookiesFromHeaders(const std::string &rawHeaders);
