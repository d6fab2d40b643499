#include "LockRecords.h"

#include <new>
#include <utility>

namespace tarnwick {

const wchar_t* KindOf(const CLockItem& row)
{
    switch (row.kind) {
    case LockKind::Handle: return L"handle";
    case LockKind::Module: return L"module";
    case LockKind::Mapping: return L"mapping";
    }
    return L"";
}

void CLockList::Append(CFileLock lock)
{
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        locks_.push_back(std::move(lock));
    } catch (const std::bad_alloc&) {
        // Out of memory loses this one lock; the scan goes on.
    }
}

std::size_t CLockList::Count() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return locks_.size();
}

CList<CFileLock> CLockList::TakeAll()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(locks_, {});
}

}  // namespace tarnwick
