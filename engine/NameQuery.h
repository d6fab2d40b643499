#pragma once
// Asking the system for handles' names on a worker thread that is killed when it does not
// answer in time: the one way the scan and the removal commands name a handle.

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

#include "PathForms.h"
#include "ScopedHandle.h"
#include "SystemServices.h"

namespace tarnwick {

struct CNameQueryStats {
    ULONG namesQueried = 0;  // handles handed to a worker
    ULONG timeouts = 0;      // workers killed for not answering in time
    ULONG retried = 0;       // handles given the retry's time
    ULONG givenUp = 0;       // handles whose name did not come in it
    ULONG workersStarted = 0;
};

struct CNameQuery;
struct CNameSlot;

// Handles to be named together and a slot for each one's name. The slots are set aside
// when the batch is made, as a worker that may be killed must not allocate.
class CNameBatch {
public:
    explicit CNameBatch(std::size_t capacity);
    bool ok() const { return bool(memory_); }
    std::size_t capacity() const { return capacity_; }
    std::size_t size() const { return size_; }
    bool full() const { return size_ == capacity_; }

    // Only while not full. The handle stays the caller's and must stay open until the batch
    // has been named.
    void Add(HANDLE handle);
    void Clear() { size_ = 0; }

private:
    friend class CNameQueryWorker;
    CNameSlot& slot(std::size_t i) const;

    UniqueVirtualMemory memory_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// One worker at a time, replaced by a fresh one (with fresh events, so a late answer of the
// old one can never pass for another round's) whenever a query does not answer.
class CNameQueryWorker {
public:
    // deviceMap turns object names (device form) into drive form; stats are added to.
    CNameQueryWorker(const CSystemServices& services, const CDeviceMap& deviceMap, CNameQueryStats& stats);
    ~CNameQueryWorker();
    CNameQueryWorker(const CNameQueryWorker&) = delete;
    CNameQueryWorker& operator=(const CNameQueryWorker&) = delete;

    // True when name now holds the handle's name in the form a scan target is compared in:
    // with the long-path prefix, or in object-name mode without it. False when the name did
    // not come in time, cannot be had, or no worker could be started (failure() says why).
    bool NameOf(HANDLE handle, std::wstring& name);

    // Hands the whole batch to the worker and returns at once; false when no worker could
    // be started. The batch must not change until Complete has returned.
    bool Start(CNameBatch& batch);
    // Waits until every handle of the started batch has been named or given up. Each one
    // gets the services' limits, as NameOf gives them; after a kill the rest of the batch goes
    // on from the next handle on a fresh worker.
    void Complete(CNameBatch& batch);
    // The name of the batch's handle i, as NameOf gives it; false when it has none.
    bool NameAt(const CNameBatch& batch, std::size_t i, std::wstring& name) const;

    const std::wstring& failure() const { return failure_; }

private:
    bool Hand(CNameBatch& batch, std::size_t first, std::size_t end);
    std::size_t Await();
    void GiveUp(CNameBatch& batch, std::size_t i);
    bool ToComparableForm(std::wstring& name, bool isObjectName) const;
    bool EnsureWorker();
    void KillWorker();
    void RetireWorker();
    void ForgetWorker();

    const CSystemServices& services_;
    const CDeviceMap& deviceMap_;
    CNameQueryStats& stats_;
    std::unique_ptr<CNameQuery> query_;
    UniqueHandle worker_;
    std::unique_ptr<CNameBatch> single_;  // NameOf's batch of one
    const CNameBatch* handed_ = nullptr;  // the batch the worker is naming, if any
    std::size_t roundFirst_ = 0;          // the part of it the worker was last handed
    std::size_t roundEnd_ = 0;
    std::wstring failure_;
};

}  // namespace tarnwick
