#include "FindLocks.h"

#include "LockSearch.h"
#include "MessageBox.h"
#include "com/ComHandles.h"

namespace tarnwick {

namespace {

// A count with the user's thousands separator.
std::wstring Grouped(ULONG count)
{
    wchar_t separator[8] = L",";
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
    std::wstring digits = std::to_wstring(count);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(std::size_t(at), separator);
    return digits;
}

std::wstring DoneOf(ULONG done, ULONG total, const wchar_t* what)
{
    return Grouped(done) + L" of " + Grouped(total) + L" " + what;
}

}  // namespace

bool IsScanAsked(const CTarget& target) { return target.showAll || !target.written.empty(); }

CScanOutcome ScanForRows(const CSystemServices& services, const CTarget& target, CScanProgress& progress,
                         const CScanSeams& seams)
{
    CScanOutcome outcome;
    CLockSearch search = SearchLocks(services, target, seams, &progress);
    if (search.cancelled)
        return outcome;
    outcome.rows.reserve(search.rows.size());
    for (CLockItem& lock : search.rows)
        outcome.rows.push_back(MakeListRow(std::move(lock)));
    SortRows(outcome.rows, kColumnProcess, true);  // as the list shows them first
    outcome.icons = ProgramIconsOf(outcome.rows);
    if (!IsScannable(target)) {
        outcome.message = target.problem;
        outcome.messageFlags = MB_OK | MB_ICONEXCLAMATION;
    } else if (!search.failure.empty()) {
        outcome.message = ScanFailedMessage(target.written, search.failure);
        outcome.messageFlags = MB_OK | MB_ICONEXCLAMATION;
    } else if (outcome.rows.empty()) {
        outcome.message = NoLocksMessage(target.written, UnseenSentence(search.stats));
    }
    return outcome;
}

std::wstring ScanProgressText(const CScanProgress& progress)
{
    std::wstring parts;
    if (const ULONG handles = progress.fileHandles)
        parts = DoneOf(progress.handlesDone, handles, L"file handles");
    if (const ULONG processes = progress.processes)
        parts += (parts.empty() ? L"" : L", ") + DoneOf(progress.processesDone, processes, L"processes");
    return parts.empty() ? L"Scanning..." : L"Scanning: " + parts;
}

std::wstring NoLocksMessage(const std::wstring& path, const std::wstring& unseen)
{
    std::wstring message = L"No locks detected on \"" + PathForMessage(path) +
                           L"\".\nI can still attempt to delete, move, or rename the path.";
    return unseen.empty() ? message : message + L"\n\n" + unseen;
}

std::wstring ScanFailedMessage(const std::wstring& path, const std::wstring& failure)
{
    const std::wstring on = path.empty() ? L"" : L" on \"" + PathForMessage(path) + L"\"";
    return L"The scan for locks" + on + L" failed: " + failure + L".\nLocks may be held that are not listed.";
}

CScanJob::CScanJob(const CSystemServices& services, CTarget target, HWND window, UINT message, WPARAM id)
    : target_(std::move(target)),
      task_(
          [this, &services] {
              const ComApartment apartment;  // for the programs' icons
              outcome_ = ScanForRows(services, target_, progress_);
          },
          window, message, id)
{
}

CScanOutcome CScanJob::TakeOutcome()
{
    task_.Finish();
    return std::move(outcome_);
}

}  // namespace tarnwick
