#pragma once
// One search for the locks on a target, from the scans to the rows every front end shows:
// the window's list, the command-line program's table and JSON.

#include <string>
#include <vector>

#include "LockRecords.h"
#include "ProcessInfo.h"
#include "ScanDriver.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

struct CLockSearch {
    std::vector<CLockItem> rows;  // one per lock, in the scans' order
    std::wstring failure;         // the scan could not run: the rows are not all there may be
    CScanStats stats;
    bool cancelled = false;  // stopped at the watcher's request: there are no rows
};

// Whether a scan of the target would run: with show-all always; without it, only for a
// path that can be a target.
bool IsScannable(const CTarget& target);

// Every lock on the target; nothing, without a scan, when the target is not scannable.
// progress, when given, follows the scan and can stop it.
CLockSearch SearchLocks(const CSystemServices& services, const CTarget& target, const CScanSeams& seams = {},
                        CScanProgress* progress = nullptr);

// The sentence that tells what the scan could not see (processes that refused to be
// examined, handles given up); empty when it saw everything.
std::wstring UnseenSentence(const CScanStats& stats);

}  // namespace tarnwick
