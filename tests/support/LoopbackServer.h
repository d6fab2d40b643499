#pragma once
// A small HTTP server of the test's own on 127.0.0.1: answers GET with the pages a test set
// and 404 for any other path, one connection at a time.

#include <winsock2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tarnwick::test {

class LoopbackServer {
public:
    // Listens on a free port; throws when it cannot.
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:PORT", to which paths beginning with "/" are added.
    std::wstring Root() const;
    void Serve(const std::string& path, const std::string& body);
    // Answers every later request only after this long, as a slow server would.
    void DelayAnswers(DWORD ms) { delayMs_ = ms; }
    // How often a path was asked for.
    int Requests(const std::string& path);
    // Closes the port: later connections are refused.
    void Stop();

private:
    void Run();
    void Answer(SOCKET connection);

    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<DWORD> delayMs_{0};
    std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    std::map<std::string, int> requests_;
    std::thread thread_;
};

}  // namespace tarnwick::test
