#include "BackgroundTask.h"

#include <utility>

namespace tarnwick {

CBackgroundTask::CBackgroundTask(std::function<void()> work, HWND window, UINT message, WPARAM id) : id_(id)
{
    thread_ = std::thread([this, work = std::move(work), window, message] {
        try {
            work();
        } catch (...) {
            // Handed to the window's thread, which can report it; a thread cannot.
            error_ = std::current_exception();
        }
        ::PostMessageW(window, message, id_, 0);
    });
}

CBackgroundTask::~CBackgroundTask()
{
    if (thread_.joinable())
        thread_.join();
}

void CBackgroundTask::Finish()
{
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace tarnwick
