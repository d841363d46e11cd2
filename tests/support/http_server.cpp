#include "http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TestHttpServer::TestHttpServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("test HTTP server cannot listen");
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int socket : sockets_)
            ::shutdown(socket, SHUT_RDWR);
    }
    changed_.notify_all();
    ::shutdown(listener_, SHUT_RDWR);
    acceptThread_.join();
    for (std::thread &thread : threads_)
        thread.join();
    ::close(listener_);
}

std::string TestHttpServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::answer(const std::string &path, const std::string &rawResponse, int delayMs)
{
    std::lock_guard lock(mutex_);
    scripts_[path] = Script{rawResponse, delayMs, false};
}

void TestHttpServer::neverAnswer(const std::string &path)
{
    std::lock_guard lock(mutex_);
    scripts_[path] = Script{{}, 0, true};
}

std::vector<std::string> TestHttpServer::requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string TestHttpServer::lastRequest() const
{
    std::lock_guard lock(mutex_);
    return requests_.empty() ? std::string() : requests_.back();
}

int TestHttpServer::answered() const
{
    std::lock_guard lock(mutex_);
    return answered_;
}

bool TestHttpServer::waitForRequests(size_t count, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
}

std::string TestHttpServer::response(int status, const std::vector<std::string> &headerLines,
                                     const std::string &body)
{
    std::string text = "HTTP/1.1 " + std::to_string(status) + " Scripted\r\n";
    for (const std::string &line : headerLines)
        text += line + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return text + body;
}

void TestHttpServer::acceptLoop()
{
    for (;;) {
        int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            if (socket >= 0)
                ::close(socket);
            return;
        }
        if (socket < 0)
            continue;
        sockets_.push_back(socket);
        threads_.emplace_back([this, socket] { serve(socket); });
    }
}

TestHttpServer::Script TestHttpServer::scriptFor(const std::string &target) const
{
    std::lock_guard lock(mutex_);
    // A proxy may pass the target on in absolute form.
    std::string path = target;
    if (size_t scheme = path.find("://"); scheme != std::string::npos) {
        size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    auto found = scripts_.find(path);
    if (found == scripts_.end())
        found = scripts_.find(path.substr(0, path.find('?')));
    if (found != scripts_.end())
        return found->second;
    return Script{response(404, {}, "not found"), 0, false};
}

bool TestHttpServer::sleepUnlessStopped(int ms) const
{
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void TestHttpServer::serve(int socket)
{
    // The request: the header block, then as many body bytes as Content-Length announces.
    std::string request;
    size_t headerEnd = std::string::npos;
    size_t wanted = 0;
    char buffer[4096];
    while (headerEnd == std::string::npos || request.size() < wanted) {
        ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, n);
        if (headerEnd == std::string::npos &&
            (headerEnd = request.find("\r\n\r\n")) != std::string::npos) {
            size_t bodyLength = 0;
            std::string lower;
            for (char c : request.substr(0, headerEnd))
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos)
                bodyLength = std::stoul(request.substr(at + 17));
            wanted = headerEnd + 4 + bodyLength;
        }
    }
    if (headerEnd != std::string::npos) {
        size_t space = request.find(' ');
        std::string target = request.substr(space + 1, request.find(' ', space + 1) - space - 1);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        Script script = scriptFor(target);
        if (script.silent) {
            sleepUnlessStopped(INT32_MAX / 2);
        } else if (sleepUnlessStopped(script.delayMs)) {
            size_t sent = 0;
            while (sent < script.raw.size()) {
                ssize_t n = ::send(socket, script.raw.data() + sent, script.raw.size() - sent,
                                   MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            std::lock_guard lock(mutex_);
            answered_ += sent == script.raw.size() ? 1 : 0;
        }
    }
    ::shutdown(socket, SHUT_WR);
    // Let the client read everything before the close.
    pollfd wait{socket, POLLIN, 0};
    while (::poll(&wait, 1, 2000) > 0 && ::recv(socket, buffer, sizeof buffer, 0) > 0) {
    }
    std::lock_guard lock(mutex_);
    std::erase(sockets_, socket);
    ::close(socket);
}
