// The web access call against real servers on 127.0.0.1: the test suite's own HTTP server,
// Debian's tinyproxy for the proxy path and openssl's TLS test server for HTTPS.
#include "host/codepage.h"
#include "host/host_services.h"
#include "http_server.h"
#include "wait.h"
#include "web/exchange_request.h"
#include "web/fetch_url.h"
#include "web/run_exchange.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

std::string gbk(const std::string &utf8)
{
    return utf8ToCp936Text(utf8);
}

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The header lines of a raw request, without the request line.
std::vector<std::string> headerLines(const std::string &request)
{
    std::vector<std::string> lines;
    size_t pos = request.find("\r\n") + 2;
    for (size_t end; (end = request.find("\r\n", pos)) != std::string::npos && end != pos;
         pos = end + 2)
        lines.push_back(request.substr(pos, end - pos));
    return lines;
}

// Index of the first line whose name is `name` (any case), -1 when none.
int lineNamed(const std::vector<std::string> &lines, const std::string &name)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lower(lines[i].substr(0, lines[i].find(':'))) == lower(name))
            return static_cast<int>(i);
    }
    return -1;
}

int countNamed(const std::vector<std::string> &lines, const std::string &name)
{
    int count = 0;
    for (const std::string &line : lines)
        count += lower(line.substr(0, line.find(':'))) == lower(name) ? 1 : 0;
    return count;
}

std::string requestBody(const std::string &request)
{
    return request.substr(request.find("\r\n\r\n") + 4);
}

int freePort()
{
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr *>(&address), length);
    ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

bool accepts(int port)
{
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return ok;
}

// A helper program of the test, ended when the test ends.
struct Helper {
    QProcess process;
    ~Helper()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

class FetchUrl : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        // Abandoned workers stop at their next progress check; none may outlive the test.
        EXPECT_TRUE(waitUntil([] { return webWorkersRunning() == 0; }, 10000));
    }
    TestHttpServer server;
};

} // namespace

TEST_F(FetchUrl, GetHeadersArriveAsTheStationCompletesThem)
{
    server.answer("/p", TestHttpServer::response(200, {}, "ok"));
    const std::string accept = "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, "
                               "image/pjpeg, application/x-shockwave-flash, "
                               "application/vnd.ms-excel, application/vnd.ms-powerpoint, "
                               "application/msword, */*";
    std::string url = server.url("/p?q=1");

    // The defaults, in the station's order.
    ASSERT_EQ(fetchUrl(url), "ok");
    std::string request = server.lastRequest();
    EXPECT_EQ(request.rfind("GET /p?q=1 HTTP/1.1\r\n", 0), 0u) << request;
    auto lines = headerLines(request);
    EXPECT_EQ(lines[lineNamed(lines, "User-Agent")], std::string("User-Agent: ") + defaultAgent);
    int acceptAt = lineNamed(lines, "Accept");
    ASSERT_GE(acceptAt, 0);
    EXPECT_EQ(lines[acceptAt], accept);
    EXPECT_EQ(lines[acceptAt + 1], "Referer: " + url);
    EXPECT_EQ(lines[acceptAt + 2], "Accept-Language: zh-cn");
    EXPECT_EQ(countNamed(lines, "Accept"), 1);
    EXPECT_EQ(lineNamed(lines, "Cookie"), -1);

    // The caller's lines: a lower-case Accept-Language stands for both Accept lines, any case
    // of User-Agent gives the agent, "RefererNo" is taken out and no Referer is added.
    ASSERT_EQ(fetchUrl(url, 0, {},
                       "accept-language: en\r\nuser-AGENT: Studio/2\r\nX-M: RefererNo\r\n", {},
                       "sid=42"),
              "ok");
    lines = headerLines(server.lastRequest());
    EXPECT_EQ(countNamed(lines, "Accept"), 0) << server.lastRequest();
    EXPECT_EQ(lines[lineNamed(lines, "Accept-Language")], "accept-language: en");
    EXPECT_EQ(countNamed(lines, "User-Agent"), 1);
    EXPECT_EQ(lines[lineNamed(lines, "User-Agent")], "user-AGENT: Studio/2");
    EXPECT_EQ(lineNamed(lines, "Referer"), -1);
    EXPECT_EQ(lines[lineNamed(lines, "X-M")], "X-M:");
    EXPECT_EQ(lines.back(), "Cookie: sid=42"); // the cookie line closes the block

    // Chinese text in the query goes as its bytes; a space escaped.
    url = server.url("/p?name=") + gbk("张三") + " x";
    ASSERT_EQ(fetchUrl(url), "ok");
    EXPECT_EQ(server.lastRequest().rfind("GET /p?name=" + gbk("张三") + "%20x HTTP/1.1\r\n", 0),
              0u);

    // A blank cookie text still gets its Cookie line.
    ASSERT_EQ(fetchUrl(url, 0, {}, {}, {}, "   "), "ok");
    lines = headerLines(server.lastRequest());
    ASSERT_GE(lineNamed(lines, "Cookie"), 0);
    EXPECT_EQ(lines.back().substr(0, 7), "Cookie:");
}

TEST_F(FetchUrl, PostSendsItsBodyWithFormHeaders)
{
    server.answer("/form", TestHttpServer::response(200, {}, "posted"));
    std::string url = server.url("/form");
    const std::string body = std::string("name=") + gbk("张三") + "&x=1";
    ASSERT_EQ(fetchUrl(url, 1, {}, {}, body, "c=3"), "posted");
    std::string request = server.lastRequest();
    EXPECT_EQ(request.rfind("POST /form HTTP/1.1\r\n", 0), 0u);
    auto lines = headerLines(request);
    EXPECT_EQ(lines[lineNamed(lines, "Content-Type")],
              "Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(lines[lineNamed(lines, "Content-Length")],
              "Content-Length: " + std::to_string(body.size()));
    EXPECT_EQ(lines.back(), "Cookie: c=3");
    EXPECT_EQ(lineNamed(lines, "Expect"), -1);
    EXPECT_EQ(requestBody(request), body);

    // An empty body: no form type, sent with length 0.
    ASSERT_EQ(fetchUrl(url, 1), "posted");
    request = server.lastRequest();
    lines = headerLines(request);
    EXPECT_EQ(request.rfind("POST /form", 0), 0u);
    EXPECT_EQ(lineNamed(lines, "Content-Type"), -1) << request;
    EXPECT_EQ(lines[lineNamed(lines, "Content-Length")], "Content-Length: 0");
    EXPECT_EQ(requestBody(request), "");

    // Any method number but 1 is a GET.
    ASSERT_EQ(fetchUrl(url, 2, {}, {}, body), "posted");
    EXPECT_EQ(server.lastRequest().rfind("GET /form", 0), 0u);
}

TEST_F(FetchUrl, RedirectionFollowedOrRefused)
{
    server.answer("/from", TestHttpServer::response(302, {"Location: /to"}, "moved"));
    server.answer("/to", TestHttpServer::response(200, {}, "arrived"));
    std::string url = server.url("/from");
    std::string headers;
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 5, &headers), "arrived");
    EXPECT_EQ(headers.rfind("HTTP/1.1 200", 0), 0u) << headers; // the final response's
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 5, &headers, 0, nullptr, true), "arrived");
    int before = static_cast<int>(server.requests().size());
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 5, &headers, 0, nullptr, false), "moved");
    EXPECT_EQ(headers.rfind("HTTP/1.1 302", 0), 0u) << headers;
    EXPECT_EQ(static_cast<int>(server.requests().size()), before + 1);
}

TEST_F(FetchUrl, RawHeadersAndCookieText)
{
    server.answer("/c", TestHttpServer::response(200,
                                                 {"Set-Cookie: a=1; path=/",
                                                  "Set-Cookie: b=2; path=/; HttpOnly",
                                                  "Set-Cookie: c=3", "X-Studio: yes"},
                                                 "body"));
    std::string url = server.url("/c");
    std::string headers = "old", cookies = "old";
    ASSERT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, &headers, 0, &cookies), "body");
    EXPECT_EQ(cookies, "a=1;b=2;c=3;");
    EXPECT_EQ(headers, "HTTP/1.1 200 Scripted\r\nSet-Cookie: a=1; path=/\r\n"
                       "Set-Cookie: b=2; path=/; HttpOnly\r\nSet-Cookie: c=3\r\n"
                       "X-Studio: yes\r\nContent-Length: 4\r\nConnection: close\r\n\r\n");

    // Set-Cookie lines in bare LF, as some servers write them, give the same text.
    server.answer("/lf", "HTTP/1.1 200 OK\nSet-Cookie: a=1; path=/\nSet-Cookie: b=2; path=/\n"
                         "Content-Length: 2\nConnection: close\n\nok");
    url = server.url("/lf");
    ASSERT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, &headers, 0, &cookies), "ok");
    EXPECT_EQ(cookies, "a=1;b=2;");
    EXPECT_EQ(headers.find("\nSet-Cookie: a=1; path=/\r\n") + 1, headers.find("Set-Cookie"));
}

TEST_F(FetchUrl, BodiesConvertedOrReturnedWhole)
{
    server.answer("/utf8", TestHttpServer::response(200, {}, "简体中文，欢迎😀"));
    std::string big5 =
        convertText("電腦時間，歡迎光臨", "UTF-8", "CP950", Unconvertible::fail).value();
    server.answer("/big5", TestHttpServer::response(200, {}, big5));
    const std::string zeros("a\0b\0\0c", 6);
    server.answer("/zeros", TestHttpServer::response(200, {}, zeros));

    std::string url = server.url("/utf8");
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, nullptr, 1), gbk("简体中文，欢迎") + "?");
    EXPECT_EQ(fetchUrl(url), "简体中文，欢迎😀"); // as received
    url = server.url("/big5");
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, nullptr, 2), gbk("电脑时间，欢迎光临"));
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, nullptr, 7), big5);
    url = server.url("/zeros");
    EXPECT_EQ(fetchUrl(url), zeros);
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, {}, nullptr, 1), "a");
}

TEST_F(FetchUrl, SilentServerGivesTheTimeOutTextWhileTheGuiRuns)
{
    server.neverAnswer("/silent");
    std::string url = server.url("/silent");
    int ticks = 0;
    QTimer gui;
    QObject::connect(&gui, &QTimer::timeout, [&ticks] { ++ticks; });
    gui.start(20);
    std::string headers = "kept", cookies = "kept";
    QElapsedTimer clock;
    clock.start();
    std::string result = fetchUrl(url, 0, {}, {}, {}, {}, 1, &headers, 1, &cookies);
    qint64 waited = clock.elapsed();
    gui.stop();
    EXPECT_EQ(result, gbk("超时返回，指定网站不能访问，或者你的网络出现问题，你可以把参数中的＂超时"
                          "返回＂的值设置长一些。"));
    EXPECT_EQ(result, timeoutText());
    EXPECT_GE(waited, 1000);
    EXPECT_LT(waited, 10000);
    EXPECT_GE(ticks, 10) << "the GUI timer stopped during the wait";
    EXPECT_EQ(headers, "kept");
    EXPECT_EQ(cookies, "kept");
}

TEST_F(FetchUrl, LimitOfZeroOrLessTimesOutEvenWhenTheServerAnswers)
{
    server.answer("/fast", TestHttpServer::response(200, {}, "fast"));
    std::string url = server.url("/fast");
    for (int limit : {0, -5}) {
        std::string headers = "kept";
        EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, limit, &headers), timeoutText()) << limit;
        EXPECT_EQ(headers, "kept");
    }
}

TEST_F(FetchUrl, UnreachablePortGivesEmptyTexts)
{
    std::string url = "http://127.0.0.1:" + std::to_string(freePort()) + "/x";
    std::string headers = "kept", cookies = "kept";
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 10, &headers, 1, &cookies), "");
    EXPECT_EQ(headers, "");
    EXPECT_EQ(cookies, "");
}

TEST_F(FetchUrl, BlankUrlReturnsAtOnceAndSchemeIsWrittenBack)
{
    for (std::string blank : {std::string(), std::string("   "), std::string(" \xA1\xA1 ")}) {
        std::string url = blank, headers = "kept";
        EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 5, &headers), "");
        EXPECT_EQ(url, blank);
        EXPECT_EQ(headers, "kept");
    }
    EXPECT_EQ(server.requests().size(), 0u);
    EXPECT_EQ(webWorkersRunning(), 0);

    server.answer("/w", TestHttpServer::response(200, {}, "written"));
    std::string url = "127.0.0.1:" + std::to_string(server.port()) + "/w";
    EXPECT_EQ(fetchUrl(url), "written");
    EXPECT_EQ(url, server.url("/w"));
    url = server.url("/w");
    EXPECT_EQ(fetchUrl(url), "written");
    EXPECT_EQ(url, server.url("/w")); // already has its scheme
}

TEST_F(FetchUrl, AbandonedWorkerChangesNothing)
{
    server.answer("/late", TestHttpServer::response(200, {"Set-Cookie: late=1; path=/"}, "late"),
                  4000);
    server.answer("/next", TestHttpServer::response(200, {"Set-Cookie: next=1"}, "next"));
    std::string url = server.url("/late");
    std::string headers = "kept", cookies = "kept";
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 1, &headers, 0, &cookies), timeoutText());
    // The worker is told to stop and ends before the late answer goes out.
    EXPECT_TRUE(waitUntil([] { return webWorkersRunning() == 0; }, 10000));
    EXPECT_EQ(server.answered(), 0);
    waitUntil([&] { return server.answered() == 1 || clock.elapsed() > 6000; }, 10000);
    EXPECT_EQ(headers, "kept");
    EXPECT_EQ(cookies, "kept");

    // A later call gets its own answer only.
    url = server.url("/next");
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 5, &headers, 0, &cookies), "next");
    EXPECT_EQ(cookies, "next=1;");
}

TEST_F(FetchUrl, ProcessEndsWhileAWorkerRuns)
{
    EXPECT_EXIT(
        {
            TestHttpServer silent;
            silent.neverAnswer("/silent");
            std::string url = silent.url("/silent");
            QTimer::singleShot(300, [] { host().endProcess(0); });
            fetchUrl(url, 0, {}, {}, {}, {}, 30);
            std::_Exit(3); // not reached: the process ends inside the wait
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FetchUrl, PlainHttpGoesThroughTheProxy)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::WriteOther | QFileDevice::ExeOther);
    int port = freePort();
    std::string config = folder.path().toStdString() + "/tinyproxy.conf";
    std::ofstream(config) << "User nobody\nGroup nogroup\nPort " << port
                          << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Info\nLogFile \""
                          << folder.path().toStdString() << "/tinyproxy.log\"\nMaxClients 8\n"
                          << "Allow 127.0.0.1\n";
    Helper proxy;
    proxy.process.start("tinyproxy", {"-d", "-c", QString::fromStdString(config)});
    ASSERT_TRUE(proxy.process.waitForStarted(5000)) << "tinyproxy is missing";
    ASSERT_TRUE(waitUntil([port] { return accepts(port); }, 10000))
        << proxy.process.readAllStandardError().toStdString();

    server.answer("/via", TestHttpServer::response(200, {"Set-Cookie: p=1; path=/"}, "proxied"));
    std::string url = server.url("/via");
    std::string cookies;
    EXPECT_EQ(
        fetchUrl(url, 0, "127.0.0.1:" + std::to_string(port), {}, {}, {}, 10, nullptr, 0, &cookies),
        "proxied");
    EXPECT_EQ(cookies, "p=1;");
    auto lines = headerLines(server.lastRequest());
    ASSERT_GE(lineNamed(lines, "Via"), 0) << server.lastRequest();
    EXPECT_NE(lower(lines[lineNamed(lines, "Via")]).find("tinyproxy"), std::string::npos);

    // Without a proxy the request comes directly.
    EXPECT_EQ(fetchUrl(url), "proxied");
    EXPECT_EQ(lineNamed(headerLines(server.lastRequest()), "Via"), -1);
}

TEST_F(FetchUrl, HttpsUsesPort443AndAlwaysFollows)
{
    ASSERT_EQ(::geteuid(), 0u) << "HTTPS always goes to port 443, which only root can serve here";
    ASSERT_FALSE(accepts(443)) << "port 443 is taken by another server";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QString dir = folder.path();
    QProcess make;
    make.setWorkingDirectory(dir);
    make.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem",
                           "-out", "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                           "subjectAltName=IP:127.0.0.1"});
    ASSERT_TRUE(make.waitForFinished(30000) && make.exitCode() == 0)
        << make.readAllStandardError().toStdString();
    // openssl's test server answers "GET /name" with the file's bytes as the whole response.
    std::ofstream(dir.toStdString() + "/page")
        << TestHttpServer::response(200, {"Set-Cookie: s=1; Secure"}, "secret");
    std::ofstream(dir.toStdString() + "/moved")
        << TestHttpServer::response(302, {"Location: " + server.url("/plain")}, "");
    server.answer("/plain", TestHttpServer::response(200, {}, "plain"));
    Helper tls;
    tls.process.setWorkingDirectory(dir);
    tls.process.start("openssl", {"s_server", "-accept", "127.0.0.1:443", "-cert", "cert.pem",
                                  "-key", "key.pem", "-HTTP", "-quiet"});
    ASSERT_TRUE(tls.process.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([] { return accepts(443); }, 10000));
    setTrustedCertificatesForTests(dir.toStdString() + "/cert.pem");

    // A port in the URL is ignored; a dead proxy is not used for HTTPS.
    std::string url = "https://127.0.0.1:8443/page";
    std::string cookies;
    EXPECT_EQ(fetchUrl(url, 0, "127.0.0.1:1", {}, {}, {}, 20, nullptr, 0, &cookies), "secret");
    EXPECT_EQ(cookies, "s=1;");
    // The redirect flag has no effect for HTTPS.
    url = "https://127.0.0.1/moved";
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 20, nullptr, 0, nullptr, false), "plain");

    // An untrusted certificate is no connection at all.
    setTrustedCertificatesForTests("/usr/share/ca-certificates/none.pem");
    std::string headers = "kept";
    url = "https://127.0.0.1/page";
    EXPECT_EQ(fetchUrl(url, 0, {}, {}, {}, {}, 20, &headers), "");
    EXPECT_EQ(headers, "");
    setTrustedCertificatesForTests({});
}
