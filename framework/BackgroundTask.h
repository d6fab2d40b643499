#pragma once
// Work on a thread of its own whose end a window learns from a posted message: the window's
// thread never waits for the work, and the work never touches a window.

#include <windows.h>

#include <exception>
#include <functional>
#include <thread>

namespace tarnwick {

class CBackgroundTask {
public:
    // Starts work at once; once it has ended, posts message to window with id as wParam.
    CBackgroundTask(std::function<void()> work, HWND window, UINT message, WPARAM id);
    // Waits for the work to end: its owner makes it end soon first (a cancel flag it honours).
    ~CBackgroundTask();
    CBackgroundTask(const CBackgroundTask&) = delete;
    CBackgroundTask& operator=(const CBackgroundTask&) = delete;

    WPARAM id() const { return id_; }
    // After the message: waits for the thread, which is ending, and throws what the work threw.
    void Finish();

private:
    WPARAM id_;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace tarnwick
