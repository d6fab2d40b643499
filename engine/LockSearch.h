#pragma once
// One search for the locks on a path, from the path as written to the rows every front end
// shows: the window's list, the command-line program's table and JSON.

#include <memory>
#include <string>
#include <vector>

#include "LockRecords.h"
#include "ProcessInfo.h"
#include "ScanDriver.h"
#include "SystemServices.h"

namespace tarnwick {

struct CLockSearch {
    std::vector<std::unique_ptr<CLockItem>> rows;  // one per lock, in the scans' order
    std::wstring problem;  // the path cannot be a target (a device name): nothing was scanned
    std::wstring failure;  // the scan could not run: the rows are not all there may be
    CScanStats stats;
};

// With show-all the path plays no part; without it an empty path finds nothing and runs
// no scan. icons gives each owner's program its image in the window; may be empty.
CLockSearch SearchLocks(const CSystemServices& services, const std::wstring& path, bool showAll,
                        const IconIndexSource& icons = nullptr, const CScanSeams& seams = {});

// The sentence that tells what the scan could not see (processes that refused to be
// examined, handles given up); empty when it saw everything.
std::wstring UnseenSentence(const CScanStats& stats);

}  // namespace tarnwick
