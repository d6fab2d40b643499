#pragma once
// A few threads that share work done once per process. Asking another process about its memory
// or its modules waits on that process (under Wine it answers the query itself; on Windows a
// browser holds thousands of regions), so processes asked side by side answer on several cores.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <vector>

#include "ScopedHandle.h"

namespace tarnwick {

inline constexpr unsigned kMaxPoolThreads = 8;

// As many threads as the machine has cores, at most kMaxPoolThreads.
inline unsigned DefaultPoolThreads()
{
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    return std::clamp<unsigned>(system.dwNumberOfProcessors, 1, kMaxPoolThreads);
}

namespace pool_detail {

template <class Work>
struct CPoolRun {
    CPoolRun(Work& work, std::size_t count) : work(work), count(count) {}

    Work& work;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::exception_ptr error;

    // Takes indices until none is left or a thread has failed; what a thread throws stops the others
    // at their next index and is kept for the caller.
    void Run(unsigned thread)
    {
        try {
            for (std::size_t i; !failed.load() && (i = next.fetch_add(1)) < count;)
                work(thread, i);
        } catch (...) {
            const std::lock_guard<std::mutex> guard(errorMutex);
            if (!error)
                error = std::current_exception();
            failed = true;
        }
    }
};

template <class Work>
struct CPoolThread {
    CPoolRun<Work>* run;
    unsigned thread;
};

template <class Work>
DWORD WINAPI PoolThreadRoutine(void* param)
{
    const auto& started = *static_cast<CPoolThread<Work>*>(param);
    started.run->Run(started.thread);
    return 0;
}

}  // namespace pool_detail

// Calls work(thread, i) once for every i below count, each on one of up to `threads` threads, the
// calling one among them; thread (below `threads`) tells which, so that each thread can keep its
// own buffers. A thread that cannot be started leaves its share to the others. The first exception
// thrown is thrown again here, once every thread has stopped.
template <class Work>
void RunOnPool(std::size_t count, unsigned threads, Work&& work)
{
    pool_detail::CPoolRun<Work> run(work, count);
    const unsigned extra = unsigned(std::min<std::size_t>(std::max(threads, 1u), std::max<std::size_t>(count, 1)) - 1);
    std::vector<pool_detail::CPoolThread<Work>> params(extra);
    std::vector<UniqueHandle> started;
    std::vector<HANDLE> waited;
    started.reserve(extra);  // nothing may throw once a thread runs on what this frame holds
    waited.reserve(extra);
    for (unsigned i = 0; i < extra; ++i) {
        params[i] = {&run, i + 1};
        UniqueHandle thread(::CreateThread(nullptr, 0, pool_detail::PoolThreadRoutine<Work>, &params[i], 0, nullptr));
        if (!thread)
            break;
        waited.push_back(thread.get());
        started.push_back(std::move(thread));
    }
    run.Run(0);
    if (!waited.empty())
        ::WaitForMultipleObjects(DWORD(waited.size()), waited.data(), TRUE, INFINITE);
    if (run.error)
        std::rethrow_exception(run.error);
}

}  // namespace tarnwick
