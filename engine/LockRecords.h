#pragma once
// The records a scan produces and the containers that hold them.

#include <windows.h>

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnwick {

// What holds the path: an open handle, a loaded image, or a mapped view, which keeps the
// file busy after its handle is closed.
enum class LockKind { Handle, Module, Mapping };

// One lock as a scan found it. The value is the handle inside its owner, the module's load
// address, or the view's base address, as the kind says.
struct CFileLock {
    DWORD pid = 0;
    std::wstring path;  // drive form, long names, no long-path prefix
    uint64_t value = 0;
    LockKind kind = LockKind::Handle;
    uint64_t object = 0;  // a handle's kernel object address; 0 where the table hides it
};

// What the list shows about one owner process; made once per process and scan.
struct CProcessInfo {
    std::wstring name;
    std::wstring owner;
    std::wstring imagePath;
    DWORD pid = 0;
    uint64_t created = 0;  // the process's creation time; 0 when it could not be read
};

// A service of the system that runs inside a process.
struct CHostedService {
    std::wstring name;  // the name the service manager knows it by
    std::wstring displayName;
};

// One lock with what is known of its owner: what every front end shows as a row, and what
// the removal commands act on. How a row looks (its texts, its icon) is the view's business.
struct CLockItem {
    uint64_t value = 0;
    DWORD pid = 0;
    std::wstring processName;
    std::wstring lockPath;
    std::wstring imagePath;
    std::wstring owner;
    LockKind kind = LockKind::Handle;
    // What tells this lock from a later one under the same numbers: the handle's kernel
    // object (0: unknown) and the owner's creation time (0: unknown), a process id being
    // handed out again once its process has gone.
    uint64_t object = 0;
    uint64_t processCreated = 0;
    // Who the owner is beside a program: the services it hosts, and whether it shows windows a
    // person could close; as the scan found them.
    std::vector<CHostedService> services;
    bool hasWindows = false;
};

// "handle", "module" or "mapping": a lock's kind as every front end says it.
const wchar_t* KindOf(const CLockItem& row);

template <class T>
using CList = std::list<T>;
template <class Key, class Value>
using CMap = std::unordered_map<Key, Value>;

// Maps keyed by process id start with this many buckets: a busy system has hundreds of processes.
inline constexpr std::size_t kIdMapBuckets = 293;

template <class Map>
Map MakeIdMap()
{
    Map map;
    map.rehash(kIdMapBuckets);
    return map;
}

using CProcessTable = CMap<DWORD, std::unique_ptr<CProcessInfo>>;

// The one list both scan threads append to while they run; appends are serialised.
// Nothing else touches it until both threads are done.
class CLockList {
public:
    void Append(CFileLock lock);
    std::size_t Count() const;
    // Hands every record over, in append order, and leaves the list empty.
    CList<CFileLock> TakeAll();

private:
    mutable std::mutex mutex_;
    CList<CFileLock> locks_;
};

}  // namespace tarnwick
