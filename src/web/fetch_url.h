#pragma once
// The station's one entry into web access: a request carried out on a worker thread under a
// time limit, while the calling (GUI) thread keeps dispatching window events. Texts are code
// page 936 bytes.

#include <optional>
#include <string>

// Once at program start, before any thread.
void initWebAccess();

// Requests `url` and returns the response body, converted when `bodyEncoding` is 1 (UTF-8) or
// 2 (Big5, traditional characters simplified); the fixed time-out text when the limit
// (`timeoutSeconds`, 60 when omitted) passes first; "" for a blank `url` or when nothing could
// be connected. A `url` without "http://" or "https://" gets "http://" in front, in the
// caller's variable too. `method` 1 is POST, any other value GET. The outputs are written only
// after a finished exchange, and only when given. An abandoned exchange never touches the
// caller's memory again and its late result is dropped.
std::string fetchUrl(std::string &url, int method = 0, const std::string &proxy = {},
                     const std::string &headers = {}, const std::string &body = {},
                     const std::string &cookies = {}, std::optional<int> timeoutSeconds = {},
                     std::string *responseHeaders = nullptr, int bodyEncoding = 0,
                     std::string *responseCookies = nullptr,
                     std::optional<bool> allowRedirect = {});

// The time-out text, as its code page 936 bytes.
std::string timeoutText();

// The start-up hit at the statistics counter ("统计地址" of the settings, else the default);
// the answer is discarded.
void sendStatisticsHit();
inline constexpr char defaultCounterUrl[] = "http://count.webstat-china.cn/hit.php?Selvana";
// Tests only: the counter used when the settings name none (tests never leave this machine).
void setDefaultCounterUrlForTests(const std::string &url);

// Worker threads still running, abandoned ones included (for tests and orderly shutdowns).
int webWorkersRunning();
