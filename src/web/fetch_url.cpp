#include "web/fetch_url.h"

#include "app/settings.h"
#include "host/codepage.h"
#include "host/memory_stream.h"
#include "web/exchange_record.h"
#include "web/run_exchange.h"
#include "web/text_conversions.h"
#include "web/url_text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace
{

std::atomic<int> workersRunning{0};

// Everything a worker touches. The caller and the worker each hold a share, so an abandoned
// worker keeps it alive on its own and never reaches into the caller's memory.
struct Exchange {
    MemoryStream stream;
    std::atomic<bool> stopRequested{false};
    std::mutex mutex;
    QEventLoop *waiter = nullptr; // the caller's wait, while it waits
    bool ended = false;
};

void runWorker(std::shared_ptr<Exchange> exchange)
{
    runExchange(exchange->stream, exchange->stopRequested);
    {
        // Under the lock the caller cannot be leaving its wait and destroying the loop; a quit
        // posted now is dropped by Qt if the loop is gone before it is delivered.
        std::lock_guard lock(exchange->mutex);
        exchange->ended = true;
        if (exchange->waiter)
            QMetaObject::invokeMethod(exchange->waiter, "quit", Qt::QueuedConnection);
    }
    exchange.reset();
    --workersRunning;
}

bool hasEnded(Exchange &exchange)
{
    std::lock_guard lock(exchange.mutex);
    return exchange.ended;
}

// Waits until the worker ends or `limit` milliseconds have passed since `clock` started,
// dispatching window events meanwhile. True when the limit passed, which wins over an end that
// comes at the same moment.
bool waitForWorker(Exchange &exchange, const QElapsedTimer &clock, long long limit)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    {
        std::lock_guard lock(exchange.mutex);
        exchange.waiter = &loop;
    }
    bool timedOut = false;
    for (;;) {
        long long left = limit - clock.elapsed();
        // The worker sets `ended` before it posts its wake-up, so an end whose wake-up was
        // consumed outside exec() is seen here and not waited for.
        if (left > 0 && !hasEnded(exchange)) {
            timer.start(static_cast<int>(std::min<long long>(left, INT_MAX)));
            loop.exec();
            timer.stop();
        }
        timedOut = clock.elapsed() >= limit;
        QCoreApplication::processEvents();
        if (timedOut || hasEnded(exchange))
            break;
    }
    std::lock_guard lock(exchange.mutex);
    exchange.waiter = nullptr;
    return timedOut;
}

} // namespace

void initWebAccess()
{
    initHttpLibrary();
}

std::string timeoutText()
{
    static const std::string text = utf8ToCp936Text(
        "超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时返回＂的值设置"
        "长一些。");
    return text;
}

std::string fetchUrl(std::string &url, int method, const std::string &proxy,
                     const std::string &headers, const std::string &body,
                     const std::string &cookies, std::optional<int> timeoutSeconds,
                     std::string *responseHeaders, int bodyEncoding, std::string *responseCookies,
                     std::optional<bool> allowRedirect)
{
    if (trimText(url).empty())
        return {};
    if (url.compare(0, 7, "http://") != 0 && url.compare(0, 8, "https://") != 0)
        url = "http://" + url;

    ExchangeRecord request;
    request.slot(1) = url;
    request.slot(2) = method == 1 ? "POST" : "GET";
    request.slot(3) = proxy;
    request.slot(4) = headers;
    request.slot(5) = body;
    request.slot(6) = cookies;
    request.slot(7) = allowRedirect.value_or(true) ? "\xD5\xE6" : "\xBC\xD9"; // "真" / "假"
    auto exchange = std::make_shared<Exchange>();
    if (!writeRecord(exchange->stream, request))
        return {};

    initHttpLibrary(); // normally done at start; a no-op then
    QElapsedTimer clock;
    ++workersRunning;
    try {
        std::thread(runWorker, exchange).detach();
    } catch (const std::system_error &) {
        --workersRunning;
        return {};
    }
    clock.start();
    // Computed wide: a large limit in seconds must not wrap into an immediate time-out.
    long long limit = timeoutSeconds ? static_cast<long long>(*timeoutSeconds) * 1000 : 60000;

    if (waitForWorker(*exchange, clock, limit)) {
        // Abandoned: the worker stops at its next progress check and frees what it holds.
        exchange->stopRequested = true;
        return timeoutText();
    }

    ExchangeRecord result;
    if (!readRecord(exchange->stream, result))
        return {};
    if (responseHeaders)
        *responseHeaders = slotText(result.slot(6));
    if (responseCookies)
        *responseCookies = slotText(result.slot(2));
    if (bodyEncoding == 1)
        return utf8ToGbk(result.slot(1));
    if (bodyEncoding == 2)
        return big5ToSimplifiedGbk(result.slot(1));
    return result.slot(1);
}

namespace
{
std::string &defaultCounter()
{
    static std::string *url = new std::string(defaultCounterUrl);
    return *url;
}
} // namespace

void setDefaultCounterUrlForTests(const std::string &url)
{
    defaultCounter() = url;
}

void sendStatisticsHit()
{
    std::string url = readCounterUrlSetting();
    if (url.empty())
        url = defaultCounter();
    fetchUrl(url);
}

int webWorkersRunning()
{
    return workersRunning.load();
}
