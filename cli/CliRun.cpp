#include "CliRun.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include "CliOptions.h"
#include "LockRemoval.h"
#include "LockSearch.h"
#include "Output.h"
#include "PathActions.h"
#include "TargetPath.h"
#include "Text.h"

namespace tarnwick::cli {

namespace {

constexpr DWORD kPollIntervalMs = 100;
constexpr wchar_t kOtherProcess[] = L"Left alone, its process ID now belongs to another process: ";

std::wstring WithNewlines(const std::wstring& text)
{
    std::wstring converted;
    for (const wchar_t c : text) {
        if (c == L'\n' && (converted.empty() || converted.back() != L'\r'))
            converted += L'\r';
        converted += c;
    }
    return converted;
}

std::wstring Line(const std::wstring& text) { return WithNewlines(text) + kNewline; }

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

// The path as every front end scans it; a refusal (a device name) goes to problem.
std::wstring NormalizedPath(const std::wstring& written, std::wstring& problem)
{
    CTargetPath target = NormalizeTargetPath(written);
    problem = target.problem;
    return target.path;
}

// Empty when the path exists and its attributes can be read; the message otherwise.
std::wstring CheckPath(const std::wstring& path)
{
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return L"";
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return Quoted(path) + L" does not exist.";
    return Quoted(path) + L" cannot be read: " + SystemMessage(error);
}

// Normalizes PATH and the move destination; the message when they cannot be acted on,
// found before any lock is touched.
std::wstring CheckPaths(const CCliOptions& options, std::wstring& path, std::wstring& destination)
{
    std::wstring problem;
    if (options.all)
        return problem;
    path = NormalizedPath(options.path, problem);
    if (problem.empty())
        problem = CheckPath(path);
    if (problem.empty())
        problem = RefusedAfterAction({options.afterAction, path, options.newName, options.destination});
    if (!problem.empty() || options.afterAction != AfterAction::MoveTo)
        return problem;
    destination = NormalizedPath(options.destination, problem);
    if (!problem.empty())
        return problem;
    if (!::PathIsDirectoryW(destination.c_str()))
        return L"--move-to needs an existing folder; " + Quoted(destination) + L" is none.";
    if (EqualsNoCase(MovedPath(path, destination), path))
        return Quoted(path) + L" is already in " + Quoted(destination) + L"; --move-to needs another folder.";
    return problem;
}

// Tells the script's reader what the after-action did; never asks.
class CScriptPrompts : public IActionPrompts {
public:
    CScriptPrompts(IConsole& console, std::wstring path, bool atBoot)
        : console_(console), path_(std::move(path)), atBoot_(atBoot)
    {
    }

    void Tell(const std::wstring& text) override { console_.Out(Line(text)); }
    bool ConfirmDeleteAtBoot(const std::wstring&) override
    {
        if (atBoot_)
            console_.Out(Line(Quoted(path_) + L" is still there; it is scheduled for deletion at the next boot."));
        else
            console_.Err(Line(L"Unable to delete " + Quoted(path_) +
                              L"; --at-boot would schedule its deletion at the next boot."));
        return atBoot_;
    }
    bool ShellMayAsk() const override { return false; }

private:
    IConsole& console_;
    const std::wstring path_;
    const bool atBoot_;
};

// The locks of one scan, described as the main window's rows are.
class CLockScan {
public:
    CLockScan(const CSystemServices& services, const std::wstring& path, bool all)
        : search_(SearchLocks(services, path, all))
    {
    }

    const std::wstring& failure() const { return search_.failure; }
    const CScanStats& stats() const { return search_.stats; }

    // The rows of one process, or all rows when no pid is given; in display order.
    CLockRows Rows(std::optional<DWORD> pid = std::nullopt) const
    {
        CLockRows rows;
        for (const auto& item : search_.rows) {
            if (!pid || item->pid == *pid)
                rows.push_back(item.get());
        }
        SortForDisplay(rows);
        return rows;
    }

private:
    CLockSearch search_;
};

// Says on standard error what the scan could not do or see. True when it could not run:
// its rows are then not the whole answer, and the command ends with kExitPlatform.
bool ReportScanTrouble(const CLockScan& scan, IConsole& console, bool json)
{
    if (!scan.failure().empty()) {
        console.Err(Line(L"The scan failed: " + scan.failure() + L"."));
        return true;
    }
    const std::wstring unseen = UnseenSentence(scan.stats());
    if (unseen.empty())
        return false;
    if (json)
        console.Err(UnseenJson(scan.stats().processesRefused, scan.stats().handles.givenUp));
    else
        console.Err(Line(unseen));
    return false;
}

class CRemovalCommand {
public:
    CRemovalCommand(const CCliOptions& options, const CSystemServices& services, IConsole& console,
                    std::wstring path, std::wstring destination)
        : o_(options), services_(services), console_(console), path_(std::move(path)),
          destination_(std::move(destination))
    {
    }

    int Run()
    {
        const CLockScan first(services_, path_, false);
        if (ReportScanTrouble(first, console_, false))
            return kExitPlatform;
        const CLockRows rows = first.Rows(o_.pid);
        if (o_.pid && rows.empty()) {
            console_.Err(Line(L"Process " + std::to_wstring(*o_.pid) + L" holds no lock on " + Quoted(path_) + L"."));
            return kExitUsage;
        }
        if (o_.command == Command::Kill && RefusesCriticalOwners(rows))
            return kExitUsage;
        bool locksRemain = false;
        if (rows.empty()) {
            console_.Out(Line(L"No locks on " + Quoted(path_) + L"."));
        } else {
            if (o_.command == Command::Unlock)
                Unlock(rows);
            else
                Kill(rows);
            const std::optional<bool> remain = ReportRemaining();
            if (!remain)
                return kExitPlatform;
            locksRemain = *remain;
        }
        const bool actionDone = CarryOutAction();
        return locksRemain || !actionDone ? kExitLocksRemain : kExitClear;
    }

private:
    bool IsSelf(const CLockItem& row) const
    {
        if (row.pid != ::GetCurrentProcessId())
            return false;
        console_.Out(Line(L"Left alone, it is tarnwick-cli itself: " + DescribeLock(row)));
        return true;
    }

    void Unlock(const CLockRows& rows)
    {
        CHandleCloser closer(services_);
        for (const CLockItem* row : rows) {
            if (!IsSelf(*row))
                console_.Out(Line(UnlockReport(closer.Close(*row), *row) + DescribeLock(*row)));
        }
    }

    static std::wstring UnlockReport(UnlockResult result, const CLockItem& row)
    {
        switch (result) {
        case UnlockResult::Closed: return L"Closed: ";
        case UnlockResult::NotAHandle:
            return L"Not closable, " + std::wstring(NotClosableWhat(row)) + L" (kill ends its process): ";
        case UnlockResult::OtherProcess: return kOtherProcess;
        case UnlockResult::Changed: return L"Left alone, the handle no longer names that file: ";
        case UnlockResult::Survived: return L"Not closed, the handle stays open (protected from closing): ";
        case UnlockResult::NotOpened: break;
        }
        return L"Could not close: ";
    }

    // One row of each process.
    static CLockRows Owners(const CLockRows& rows)
    {
        std::set<DWORD> seen;
        CLockRows owners;
        for (const CLockItem* row : rows) {
            if (seen.insert(row->pid).second)
                owners.push_back(row);
        }
        return owners;
    }

    // Says why each critical owner is not ended; true when there is one and --force is not
    // given: then nothing at all is done.
    bool RefusesCriticalOwners(const CLockRows& rows) const
    {
        bool refused = false;
        for (const CLockItem* row : Owners(rows)) {
            if (!o_.force && IsCriticalOwner(services_, *row)) {
                console_.Err(Line(CriticalProcessWarning(*row) + L" --force ends it anyway."));
                refused = true;
            }
        }
        return refused;
    }

    void Kill(const CLockRows& rows)
    {
        const auto ask = [this](const std::wstring&) { return o_.force; };
        for (const CLockItem* row : Owners(rows)) {
            if (!IsSelf(*row))
                console_.Out(Line(EndReport(TerminateOwner(services_, *row, ask)) + DescribeProcess(*row)));
        }
    }

    static const wchar_t* EndReport(EndResult result)
    {
        switch (result) {
        case EndResult::Ended: return L"Ended: ";
        case EndResult::OtherProcess: return kOtherProcess;
        case EndResult::Declined: return L"Left alone, a critical process: ";
        case EndResult::NotOpened: break;
        }
        return L"Could not end: ";
    }

    // Rescans (until none is left or --wait runs out) and reports what is left; true when
    // locks remain, nothing when the rescan could not run.
    std::optional<bool> ReportRemaining()
    {
        const ULONGLONG deadline = ::GetTickCount64() + o_.waitMs.value_or(0);
        for (;;) {
            const CLockScan scan(services_, path_, false);
            if (ReportScanTrouble(scan, console_, false))
                return std::nullopt;
            const CLockRows rows = scan.Rows(o_.pid);
            const ULONGLONG now = ::GetTickCount64();
            if (!rows.empty() && o_.waitMs && now < deadline) {
                ::Sleep(DWORD(std::min<ULONGLONG>(kPollIntervalMs, deadline - now)));
                continue;
            }
            if (rows.empty()) {
                console_.Out(Line(L"No lock remains on " + Quoted(path_) + L"."));
                return false;
            }
            console_.Out(Line(std::to_wstring(rows.size()) + (rows.size() == 1 ? L" lock remains" : L" locks remain") +
                              L" on " + Quoted(path_) + L":"));
            for (const CLockItem* row : rows)
                console_.Out(Line(L"  " + DescribeLock(*row)));
            return true;
        }
    }

    // Runs the chosen after-action; false when it did not get its result.
    bool CarryOutAction()
    {
        if (o_.afterAction == AfterAction::DoNothing)
            return true;
        CAfterActionRequest request;
        request.action = o_.afterAction;
        request.path = path_;
        request.newName = o_.newName;
        request.destination = destination_;
        CScriptPrompts prompts(console_, path_, o_.atBoot);
        const CActionOutcome outcome = CarryOutAfterAction(request, prompts);
        if (outcome.result == ActionResult::Failed)
            console_.Err(Line(outcome.text));
        if (outcome.result != ActionResult::Done)
            return false;  // the path stays where it was; the prompts said so for a delete
        if (o_.afterAction == AfterAction::RenameTo)
            console_.Out(Line(L"Renamed " + Quoted(path_) + L" to " + Quoted(RenamedPath(path_, o_.newName)) + L"."));
        else if (o_.afterAction == AfterAction::MoveTo)
            console_.Out(Line(L"Moved " + Quoted(path_) + L" to " + Quoted(MovedPath(path_, destination_)) + L"."));
        return true;
    }

    const CCliOptions& o_;
    const CSystemServices& services_;
    IConsole& console_;
    const std::wstring path_;
    const std::wstring destination_;
};

int List(const CCliOptions& options, const CSystemServices& services, IConsole& console, const std::wstring& path)
{
    const CLockScan scan(services, path, options.all);
    if (ReportScanTrouble(scan, console, options.json))
        return kExitPlatform;
    const CLockRows rows = scan.Rows();
    if (options.json)
        console.Out(LockJson(rows));
    else if (!rows.empty())
        console.Out(LockTable(rows));
    else
        console.Out(Line(options.all ? L"No locks found." : L"No locks on " + Quoted(path) + L"."));
    return rows.empty() ? kExitClear : kExitLocksRemain;
}

}  // namespace

int RunCli(const std::vector<std::wstring>& arguments, IConsole& console, const CPlatformLoader& loader)
{
    const CParsedCommandLine parsed = ParseCliOptions(arguments);
    const CCliOptions& options = parsed.options;
    if (!parsed.error.empty()) {
        console.Err(Line(parsed.error) + Line(L"Try \"tarnwick-cli --help\"."));
        return kExitUsage;
    }
    if (options.command == Command::Help) {
        console.Out(WithNewlines(HelpText()));
        return kExitClear;
    }

    std::wstring path, destination;
    if (const std::wstring problem = CheckPaths(options, path, destination); !problem.empty()) {
        console.Err(Line(problem));
        return kExitUsage;
    }

    CSystemServices services;
    if (const std::wstring fatal = BindSystemServices(services, loader); !fatal.empty()) {
        console.Err(Line(fatal));
        return kExitPlatform;
    }
    if (options.command == Command::List)
        return List(options, services, console, path);
    return CRemovalCommand(options, services, console, path, destination).Run();
}

}  // namespace tarnwick::cli
