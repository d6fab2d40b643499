#include "CliRun.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "CliOptions.h"
#include "LockSearch.h"
#include "Output.h"
#include "RemovalSequence.h"
#include "Text.h"

namespace tarnwick::cli {

namespace {

constexpr DWORD kPollIntervalMs = 100;
constexpr wchar_t kOtherProcess[] = L"Left alone, its process ID now belongs to another process: ";
constexpr wchar_t kSelf[] = L"Left alone, it is tarnwick-cli itself: ";

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

CAfterActionRequest AfterActionOf(const CCliOptions& options, const CTarget& target)
{
    return MakeAfterActionRequest(target, options.afterAction, options.newName, options.destination);
}

// Why PATH cannot be listed or acted on as asked, found before any lock is touched; empty
// when it can.
std::wstring TargetProblem(const CCliOptions& options, const CTarget& target)
{
    if (options.all)
        return {};
    if (!target.problem.empty())
        return target.problem;
    if (std::wstring missing = CheckPath(target.path); !missing.empty())
        return missing;
    return AfterActionProblem(target, AfterActionOf(options, target));
}

// The locks of one scan, described as the main window's rows are.
class CLockScan {
public:
    CLockScan(const CSystemServices& services, const CTarget& target) : search_(SearchLocks(services, target)) {}

    const std::wstring& failure() const { return search_.failure; }
    const CScanStats& stats() const { return search_.stats; }

    // The rows of one process, or all rows when no pid is given; in display order.
    CLockRows Rows(std::optional<DWORD> pid = std::nullopt) const
    {
        CLockRows rows;
        for (const CLockItem& item : search_.rows) {
            if (!pid || item.pid == *pid)
                rows.push_back(&item);
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

std::wstring UnlockReport(UnlockResult result, const CLockItem& row)
{
    switch (result) {
    case UnlockResult::Closed: return L"Closed: ";
    case UnlockResult::NotAHandle:
        return L"Not closable, " + std::wstring(NotClosableWhat(row)) + L" (kill ends its process): ";
    case UnlockResult::OtherProcess: return kOtherProcess;
    case UnlockResult::Changed: return L"Left alone, the handle no longer names that file: ";
    case UnlockResult::Survived: return L"Not closed, the handle stays open (protected from closing): ";
    case UnlockResult::Reopened: return L"Closed; the program opened the file again: ";
    case UnlockResult::SurvivedOrReopened:
        return L"Not closed, or closed and the program opened the file again at once (the system does not tell "
               L"which): ";
    case UnlockResult::Self: return kSelf;
    case UnlockResult::NotOpened: break;
    }
    return L"Could not close: ";
}

// unlock, kill and close: the engine's removal, answered from the options and told on the
// console. Never asks: a critical process or a service host is ended, and a service that
// running services depend on stopped, only with --force; a program that did not close is
// ended only with --then-kill; a path that stays is scheduled for deletion at the next boot
// only with --at-boot.
class CRemovalCommand : public IRemovalPrompts {
public:
    CRemovalCommand(const CCliOptions& options, const CSystemServices& services, const CTarget& target,
                    IConsole& console)
        : o_(options), services_(services), target_(target), console_(console)
    {
    }

    int Run()
    {
        const CLockScan first(services_, target_);
        if (ReportScanTrouble(first, console_, false))
            return kExitPlatform;
        const CLockRows rows = first.Rows(o_.pid);
        if (o_.pid && rows.empty()) {
            console_.Err(
                Line(L"Process " + std::to_wstring(*o_.pid) + L" holds no lock on " + Quoted(target_.path) + L"."));
            return kExitUsage;
        }
        if (rows.empty())
            console_.Out(Line(L"No locks on " + Quoted(target_.path) + L"."));
        CRemovalRequest request;
        request.command = RemovalCommandOf(o_.command);
        request.closeTimeoutMs = CloseTimeout();
        request.rows.assign(rows.begin(), rows.end());
        request.rowsListed = actedOn_ = !rows.empty();
        request.afterAction = AfterActionOf(o_, target_);
        const CRemovalOutcome outcome = RunRemoval(services_, target_, request, *this);
        if (outcome.stopped == RemovalStop::Declined)
            return kExitUsage;
        if (outcome.stopped == RemovalStop::Interrupted)
            return kExitPlatform;
        const bool done = ActionDone(outcome.action);  // told also when locks remain
        return locksRemain_ || !done ? kExitLocksRemain : kExitClear;
    }

    void Tell(const std::wstring& text) override { console_.Out(Line(text)); }
    bool ConfirmDeleteAtBoot(const std::wstring&) override { return o_.atBoot; }
    bool ShellMayAsk() const override { return false; }
    bool ConfirmUnlockAll(const std::wstring&) override { return true; }
    Consent ConfirmEndCritical(const CLockItem& owner, const std::wstring&) override
    {
        return ForcedOrRefused(CriticalProcessWarning(owner) + L" --force ends it anyway.");
    }
    Consent ConfirmEndServiceHost(const CLockItem& owner, const std::vector<CHostedService>& services,
                                  const std::wstring&) override
    {
        return ForcedOrRefused(ServiceHostWarning(owner, services) + L" --force ends it anyway.");
    }
    Consent ConfirmStopServices(const CLockItem& owner, const CServiceStop& stop, const std::wstring&) override
    {
        if (stop.dependants.empty())
            return Consent::Yes;
        return ForcedOrRefused(DescribeProcess(owner) + L" hosts " + ServiceNames(stop.services) +
                               L", and these running services depend on it: " + ServiceNames(stop.dependants) +
                               L". --force stops them too.");
    }
    bool ConfirmEndUnclosed(const std::vector<const CLockItem*>&, const std::wstring&) override { return o_.thenKill; }
    void Report(const CRowOutcome& outcome) override
    {
        const CLockItem& row = *outcome.row;
        if (o_.command == Command::Close)
            console_.Out(Line(CloseOutcomeText(outcome, CloseTimeout())));
        if (o_.command == Command::Kill || outcome.thenEnded)
            console_.Out(Line(EndOutcomeText(outcome)));
        if (o_.command == Command::Unlock)
            console_.Out(Line(UnlockReport(outcome.unlocked, row) + DescribeLock(row)));
    }
    // With locks to remove, rescans until none is left or --wait runs out, and says what is left.
    bool LocksRemoved(const std::vector<const CLockItem*>&) override
    {
        if (!actedOn_)
            return true;
        const std::optional<bool> remain = ReportRemaining();
        locksRemain_ = remain.value_or(true);
        return remain.has_value();
    }

private:
    static RemovalCommand RemovalCommandOf(Command command)
    {
        if (command == Command::Kill)
            return RemovalCommand::Terminate;
        return command == Command::Close ? RemovalCommand::Close : RemovalCommand::UnlockAll;
    }

    DWORD CloseTimeout() const { return o_.timeoutMs.value_or(kCloseTimeoutMs); }

    // --force says Yes to a question about something dangerous; without it the command is
    // refused, with the reason on standard error.
    Consent ForcedOrRefused(const std::wstring& refusal)
    {
        if (o_.force)
            return Consent::Yes;
        console_.Err(Line(refusal));
        return Consent::Stop;
    }

    // Rescans (until none is left or --wait runs out) and reports what is left; true when
    // locks remain, nothing when the rescan could not run.
    std::optional<bool> ReportRemaining()
    {
        const ULONGLONG deadline = ::GetTickCount64() + o_.waitMs.value_or(0);
        for (;;) {
            const CLockScan scan(services_, target_);
            if (ReportScanTrouble(scan, console_, false))
                return std::nullopt;
            const CLockRows rows = scan.Rows(o_.pid);
            const ULONGLONG now = ::GetTickCount64();
            if (!rows.empty() && o_.waitMs && now < deadline) {
                ::Sleep(DWORD(std::min<ULONGLONG>(kPollIntervalMs, deadline - now)));
                continue;
            }
            if (rows.empty()) {
                console_.Out(Line(L"No lock remains on " + Quoted(target_.path) + L"."));
                return false;
            }
            console_.Out(Line(std::to_wstring(rows.size()) + (rows.size() == 1 ? L" lock remains" : L" locks remain") +
                              L" on " + Quoted(target_.path) + L":"));
            for (const CLockItem* row : rows)
                console_.Out(Line(L"  " + DescribeLock(*row)));
            return true;
        }
    }

    // Says what the after-action did; false when it did not get its result.
    bool ActionDone(const CActionOutcome& outcome) const
    {
        if (!outcome.text.empty())
            console_.Err(Line(outcome.text));
        if (outcome.result == ActionResult::Scheduled)
            console_.Out(
                Line(Quoted(target_.path) + L" is still there; it is scheduled for deletion at the next boot."));
        if (outcome.result == ActionResult::Kept)
            console_.Err(Line(L"--at-boot would schedule its deletion at the next boot."));
        if (outcome.result != ActionResult::Done)
            return false;  // the path stays where it was
        if (o_.afterAction == AfterAction::RenameTo)
            console_.Out(Line(L"Renamed " + Quoted(target_.path) + L" to " +
                              Quoted(RenamedPath(target_.path, o_.newName)) + L"."));
        else if (o_.afterAction == AfterAction::MoveTo)
            console_.Out(Line(L"Moved " + Quoted(target_.path) + L" to " +
                              Quoted(MoveDestination(target_, AfterActionOf(o_, target_))) + L"."));
        return true;
    }

    const CCliOptions& o_;
    const CSystemServices& services_;
    const CTarget& target_;
    IConsole& console_;
    bool actedOn_ = false;  // there were locks to remove: what is left is looked for again
    bool locksRemain_ = false;
};

int List(const CCliOptions& options, const CSystemServices& services, const CTarget& target, IConsole& console)
{
    const CLockScan scan(services, target);
    if (ReportScanTrouble(scan, console, options.json))
        return kExitPlatform;
    const CLockRows rows = scan.Rows();
    if (options.json)
        console.Out(LockJson(rows));
    else if (!rows.empty())
        console.Out(LockTable(rows));
    else
        console.Out(Line(options.all ? L"No locks found." : L"No locks on " + Quoted(target.path) + L"."));
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

    CSystemServices services;
    if (const std::wstring fatal = BindSystemServices(services, loader); !fatal.empty()) {
        console.Err(Line(fatal));
        return kExitPlatform;
    }
    const CTarget target = MakeTarget(options.path, options.all, services);
    if (const std::wstring problem = TargetProblem(options, target); !problem.empty()) {
        console.Err(Line(problem));
        return kExitUsage;
    }
    if (options.command == Command::List)
        return List(options, services, target, console);
    return CRemovalCommand(options, services, target, console).Run();
}

}  // namespace tarnwick::cli
