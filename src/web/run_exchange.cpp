// The one place that uses libcurl.
#include "web/run_exchange.h"

#include "host/memory_stream.h"
#include "web/exchange_record.h"
#include "web/exchange_request.h"
#include "web/url_text.h"

#include <curl/curl.h>
#include <mutex>
#include <vector>

namespace
{

const std::string yes = "\xD5\xE6"; // "真" in code page 936

std::mutex trustedCertificatesMutex;
std::string trustedCertificates;

struct Transfer {
    const std::atomic<bool> *stopRequested = nullptr;
    std::string body;
    std::string headers; // of the latest response only
    bool responded = false;
};

size_t receiveBody(char *data, size_t size, size_t count, void *user)
{
    static_cast<Transfer *>(user)->body.append(data, size * count);
    return size * count;
}

// Each status line starts a new response (a redirection, an interim 100): only the final
// response's lines are kept, each ending in CR LF.
size_t receiveHeader(char *data, size_t size, size_t count, void *user)
{
    auto *transfer = static_cast<Transfer *>(user);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        transfer->headers.clear();
        transfer->responded = true;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    transfer->headers += line + "\r\n";
    return size * count;
}

// Called at least once a second, also while nothing arrives: an abandoned exchange ends here.
int checkStop(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer *>(user)->stopRequested->load() ? 1 : 0;
}

// The completed header text as curl's list. A line with an empty value is sent as such (curl
// would otherwise take "Name:" as "drop this header"). curl's own Accept, Content-Type and
// Expect lines are suppressed unless the text has them, so only the station's lines go out.
curl_slist *headerList(const std::string &headers, bool post)
{
    curl_slist *list = nullptr;
    size_t pos = 0;
    while (pos < headers.size()) {
        size_t end = headers.find("\r\n", pos);
        if (end == std::string::npos)
            end = headers.size();
        std::string line = headers.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty())
            continue;
        size_t colon = line.find(':');
        if (colon != std::string::npos &&
            line.find_first_not_of(" \t", colon + 1) == std::string::npos)
            line = line.substr(0, colon) + ";";
        list = curl_slist_append(list, line.c_str());
    }
    auto lineStarts = [&headers](const char *name) {
        return containsText("\r\n" + headers, std::string("\r\n") + name, true);
    };
    if (!lineStarts("Accept:"))
        list = curl_slist_append(list, "Accept:");
    if (post && !lineStarts("Content-Type:"))
        list = curl_slist_append(list, "Content-Type:");
    list = curl_slist_append(list, "Expect:");
    return list;
}

struct Request {
    std::string address;
    std::string method;
    std::string proxy;
    std::string headers;
    std::string agent;
    std::string body;
    uint32_t flags = 0;
};

CURLcode perform(const Request &request, Transfer &transfer)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return CURLE_FAILED_INIT;
    bool post = request.method == "POST";
    curl_slist *headers = headerList(request.headers, post);
    curl_easy_setopt(curl, CURLOPT_URL, request.address.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L); // the path goes out as the station derived it
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // threads: no SIGALRM for name look-ups
    // The proxy serves plain HTTP only; "" also keeps the environment's proxy settings out.
    bool viaProxy = !(request.flags & flagSecure) && !request.proxy.empty();
    curl_easy_setopt(curl, CURLOPT_PROXY, viaProxy ? request.proxy.c_str() : "");
    curl_easy_setopt(curl, CURLOPT_PROXYTYPE, CURLPROXY_HTTP);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    // No automatic redirection for plain HTTP when asked; HTTPS always follows. No cookie
    // engine is ever switched on and nothing is cached, which covers the other flags.
    bool follow = (request.flags & flagSecure) || !(request.flags & flagNoAutoRedirect);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, request.agent.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    std::string trusted;
    {
        std::lock_guard lock(trustedCertificatesMutex);
        trusted = trustedCertificates;
    }
    if (!trusted.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, trusted.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receiveBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkStop);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result;
}

} // namespace

void initHttpLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void setTrustedCertificatesForTests(const std::string &path)
{
    std::lock_guard lock(trustedCertificatesMutex);
    trustedCertificates = path;
}

void runExchange(MemoryStream &stream, const std::atomic<bool> &stopRequested)
{
    ExchangeRecord record;
    if (!readRecord(stream, record))
        return;
    Request request;
    std::string url = slotText(record.slot(1));
    request.method = slotText(record.slot(2));
    request.proxy = slotText(record.slot(3));
    request.body = record.slot(5);
    std::string cookies = slotText(record.slot(6));
    bool followRedirects = slotText(record.slot(7)) == yes;
    std::string headers = slotText(record.slot(4));
    request.agent = agentText(headers);
    request.flags = requestFlags(cookies, followRedirects, isSecureUrl(url));
    request.address = requestAddress(url);
    request.headers = completeHeaders(headers, url, request.method, request.body, cookies);

    Transfer transfer;
    transfer.stopRequested = &stopRequested;
    // Only GET and POST are sent; any other method ends with an empty result.
    bool sent = request.method == "GET" || request.method == "POST";
    CURLcode result = sent ? perform(request, transfer) : CURLE_OK;
    if (stopRequested.load())
        return; // abandoned: nobody reads the stream any more
    if (result != CURLE_OK && !transfer.responded) {
        // Nothing answered (no connection, bad address, TLS refused): the failure record.
        for (int slot : {1, 2, 6, 7})
            record.slot(slot).clear();
        writeRecord(stream, record);
        return;
    }
    record.slot(1) = std::move(transfer.body);
    record.slot(6) = slotText(transfer.headers);
    record.slot(2) = cookiesFromHeaders(record.slot(6));
    writeRecord(stream, record);
}
