// The exchange's text functions on arbitrary code page 936 bytes: taking a URL apart, cutting
// text between and before markers, completing a request's header text and reading the cookies
// of an answer. The input is split into fields (each ends at a backslash followed by another
// byte; "\\" is a backslash), and the positions and choices are taken from its last bytes.
#include "web/exchange_request.h"
#include "web/url_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

namespace
{

void check(bool holds)
{
    if (!holds)
        std::abort();
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::string url = input.ConsumeRandomLengthString(4096);
    std::string text = input.ConsumeRandomLengthString(4096);
    std::string startMarker = input.ConsumeRandomLengthString(64);
    std::string endMarker = input.ConsumeRandomLengthString(64);
    std::string headers = input.ConsumeRandomLengthString(4096);
    std::string body = input.ConsumeRandomLengthString(256);
    std::string cookies = input.ConsumeRandomLengthString(256);
    std::string rawHeaders = input.ConsumeRandomLengthString(8192);
    int limit = static_cast<int>(text.size()) + 2;
    int start = input.ConsumeIntegralInRange<int>(-2, limit);
    bool caseSensitive = input.ConsumeBool();
    const char *const methods[] = {"GET", "POST", "HEAD", ""};
    const char *method = methods[input.ConsumeIntegralInRange<int>(0, 3)];

    urlHost(url);
    check(startsWith(urlPath(url), "/"));
    urlPort(url);
    std::string address = requestAddress(url);
    check(startsWith(address, "http://") || startsWith(address, "https://"));

    check(textBetween(text, startMarker, endMarker, start, caseSensitive).size() < text.size() + 1);
    std::string before = textBefore(text, startMarker, start, !caseSensitive);
    check(before.size() < text.size() + 1 && startsWith(text, before));

    std::string completed = completeHeaders(headers, url, method, body, cookies);
    if (!containsText(headers, "RefererNo", true))
        check(startsWith(completed, headers));
    agentText(headers);
    requestFlags(cookies, caseSensitive, isSecureUrl(url));

    std::string received = cookiesFromHeaders(rawHeaders);
    check(received.empty() || received.back() == ';');
    check(received.size() <= rawHeaders.size() + 1);
    return 0;
}
