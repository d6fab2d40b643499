#include "LoopbackServer.h"

#include <ws2tcpip.h>

#include <stdexcept>

namespace tarnwick::test {

namespace {

void SendAll(SOCKET connection, const std::string& bytes)
{
    for (std::size_t sent = 0; sent < bytes.size();) {
        const int n = ::send(connection, bytes.data() + sent, int(bytes.size() - sent), 0);
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

}  // namespace

LoopbackServer::LoopbackServer()
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw std::runtime_error("no sockets");
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer()
{
    Stop();
    ::WSACleanup();
}

std::wstring LoopbackServer::Root() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

void LoopbackServer::Serve(const std::string& path, const std::string& body)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    pages_[path] = body;
}

int LoopbackServer::Requests(const std::string& path)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return requests_[path];
}

void LoopbackServer::Stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    thread_.join();
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
}

// Waits in short slices so that Stop never depends on closing a socket under a blocked accept.
void LoopbackServer::Run()
{
    while (!stopping_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener_, &ready);
        timeval slice = {0, 50 * 1000};
        if (::select(0, &ready, nullptr, nullptr, &slice) <= 0)
            continue;
        const SOCKET connection = ::accept(listener_, nullptr, nullptr);
        if (connection == INVALID_SOCKET)
            continue;
        Answer(connection);
        ::shutdown(connection, SD_SEND);
        ::closesocket(connection);
    }
}

void LoopbackServer::Answer(SOCKET connection)
{
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const int n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        request.append(chunk, std::size_t(n));
    }
    // "GET /path?query HTTP/1.1": the path is what lies between the first two blanks.
    const std::size_t start = request.find(' ') + 1, end = request.find(' ', start);
    const std::string path = request.substr(start, end - start);
    std::string status = "404 Not Found", body = "not here\n";
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++requests_[path];
        const auto page = pages_.find(path);
        if (page != pages_.end()) {
            status = "200 OK";
            body = page->second;
        }
    }
    ::Sleep(delayMs_);
    SendAll(connection, "HTTP/1.1 " + status +
                            "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
                            "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n" + body);
}

}  // namespace tarnwick::test
