#pragma once
// A small HTTP server on 127.0.0.1 for tests, on threads of its own (so it answers while the
// GUI thread waits in any way). It records every request as it arrived, bytes exact, and serves
// scripted answers by path: a raw response, optionally late, or no answer at all.

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TestHttpServer
{
  public:
    TestHttpServer();  // listens on a free port of 127.0.0.1
    ~TestHttpServer(); // closes every connection, also those left unanswered

    int port() const { return port_; }
    std::string url(const std::string &path) const; // "http://127.0.0.1:<port>" + path

    // The bytes sent for a request whose target path (query included, else without it) is
    // `path`, after `delayMs`; the connection is closed afterwards. Unknown paths get a 404.
    void answer(const std::string &path, const std::string &rawResponse, int delayMs = 0);
    void neverAnswer(const std::string &path); // holds the connection open, silent

    std::vector<std::string> requests() const; // raw requests, in order of arrival
    std::string lastRequest() const;           // "" when none
    int answered() const;                      // responses fully sent
    // Waits (without dispatching events) until `count` requests have arrived.
    bool waitForRequests(size_t count, int timeoutMs = 5000) const;

    // A complete response: status line, the header lines (each "Name: value"), Content-Length
    // and Connection: close, then the body.
    static std::string response(int status, const std::vector<std::string> &headerLines,
                                const std::string &body);

  private:
    struct Script {
        std::string raw;
        int delayMs = 0;
        bool silent = false;
    };
    void acceptLoop();
    void serve(int socket);
    Script scriptFor(const std::string &target) const;
    bool sleepUnlessStopped(int ms) const;

    int listener_ = -1;
    int port_ = 0;
    bool stopping_ = false;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, Script> scripts_;
    std::vector<std::string> requests_;
    int answered_ = 0;
    std::vector<int> sockets_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
};
