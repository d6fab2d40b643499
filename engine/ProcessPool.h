#pragma once
// A few threads that share work done once per process. Asking another process about its memory
// or its modules waits on that process (under Wine it answers the query itself; on Windows a
// browser holds thousands of regions), so processes asked side by side answer on several cores.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstddef>
#include <exception>
#include <mutex>
#include <vector>

#include "ScopedHandle.h"

namespace tarnwick {

inline constexpr unsigned kMaxPoolThreads = 8;
inline constexpr unsigned kPoolThreadsPerCore = 4;

// The cores this process may run on.
inline unsigned UsableCores()
{
    DWORD_PTR process = 0, system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
        return unsigned(std::bitset<64>(process).count());
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

// A pool thread spends most of its time waiting for the process it asks, which answers on another
// core, so a few threads per core keep the cores busy (on two cores under Wine, 100 extra
// processes cost 7.0 times the scan without them on 2 threads, 5.7 on 4, 4.9 on 8 and 5.5 on 16);
// at most kMaxPoolThreads. On one core nothing overlaps: one thread.
inline unsigned DefaultPoolThreads()
{
    const unsigned cores = UsableCores();
    return cores <= 1 ? 1 : std::min(kPoolThreadsPerCore * cores, kMaxPoolThreads);
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
