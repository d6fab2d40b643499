#pragma once
// A scan for locks on a target, run on a thread of its own, and what the window shows and says
// when it is over.

#include <windows.h>

#include <string>

#include "BackgroundTask.h"
#include "LockListView.h"
#include "ScanDriver.h"
#include "ScanProgress.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

// What a scan gives the window: its rows, and what to say once they are shown.
struct CScanOutcome {
    CListRows rows;        // sorted by process name, ascending
    CProgramIcons icons;   // of the rows' programs
    std::wstring message;  // empty: nothing to say
    UINT messageFlags = MB_OK;
};

// Whether the target asks for a scan at all: with show-all off and no path nothing happens.
bool IsScanAsked(const CTarget& target);

// The whole of one scan, on the caller's thread (in a COM apartment, for the programs' icons):
// a scan that finds nothing, could not run, or was refused the path says so. progress follows the scan and can stop it:
// a stopped scan gives nothing at all, not even a message.
CScanOutcome ScanForRows(const CSystemServices& services, const CTarget& target, CScanProgress& progress,
                         const CScanSeams& seams = {});

// How far the scan has come, in words: "Scanning: 3,412 of 18,088 file handles, 12 of 40
// processes", each part once its total is known.
std::wstring ScanProgressText(const CScanProgress& progress);

// unseen: what the scan could not see, or empty.
std::wstring NoLocksMessage(const std::wstring& path, const std::wstring& unseen = L"");
std::wstring ScanFailedMessage(const std::wstring& path, const std::wstring& failure);

// A scan under way on a thread of its own; a message posted to the window says it is over.
class CScanJob {
public:
    // services must outlive the job.
    CScanJob(const CSystemServices& services, CTarget target, HWND window, UINT message, WPARAM id);
    // Stops the scan at its next handle or process and waits for it.
    ~CScanJob() { Cancel(); }
    CScanJob(const CScanJob&) = delete;
    CScanJob& operator=(const CScanJob&) = delete;

    WPARAM id() const { return task_.id(); }
    const CTarget& target() const { return target_; }
    std::wstring ProgressText() const { return ScanProgressText(progress_); }
    void Cancel() { progress_.cancel = true; }
    // Once the message came: what the scan found (throws what it threw).
    CScanOutcome TakeOutcome();

private:
    const CTarget target_;
    CScanProgress progress_;
    CScanOutcome outcome_;
    CBackgroundTask task_;  // last: it ends before what it works on goes
};

}  // namespace tarnwick
