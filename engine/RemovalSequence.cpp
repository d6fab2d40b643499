#include "RemovalSequence.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>

#include "ProgramWindows.h"

namespace tarnwick {

namespace {

constexpr DWORD kServicePollMs = 50;
constexpr wchar_t kOtherProcess[] = L"Left alone, its process ID now belongs to another process: ";
constexpr wchar_t kSelf[] = L"Left alone, it is this program itself: ";

using COwnerRows = std::vector<const CLockItem*>;

// One owner as a command deals with it: its rows, what became of it, and its process, held
// with the right to wait for it from before it is acted on, so that its id stays its own.
struct COwner {
    COwnerRows rows;
    CRowOutcome outcome;
    UniqueHandle process;
    std::vector<CHostedService> services;  // what it hosts now
    CServiceStop stop;                     // Close: what stopping them takes

    const CLockItem& first() const { return *rows.front(); }
};

// The rows grouped by owner (process id and creation time), owners in the order of their
// first row.
std::vector<COwner> ByOwner(const std::vector<const CLockItem*>& rows)
{
    std::vector<COwner> owners;
    for (const CLockItem* row : rows) {
        auto same = std::find_if(owners.begin(), owners.end(), [row](const COwner& owner) {
            return owner.first().pid == row->pid && owner.first().processCreated == row->processCreated;
        });
        if (same == owners.end()) {
            owners.emplace_back();
            owners.back().rows = {row};
            owners.back().outcome.row = row;
        } else {
            same->rows.push_back(row);
        }
    }
    return owners;
}

std::vector<COwner*> Pointers(std::vector<COwner>& owners)
{
    std::vector<COwner*> pointers;
    for (COwner& owner : owners)
        pointers.push_back(&owner);
    return pointers;
}

bool IsSelf(const COwner& owner) { return owner.first().pid == ::GetCurrentProcessId(); }

DWORD Remaining(ULONGLONG deadline)
{
    const ULONGLONG now = ::GetTickCount64();
    return now < deadline ? DWORD(deadline - now) : 0;
}

std::wstring Described(const CLockItem& owner)
{
    return L"\"" + owner.processName + L"\" (PID " + std::to_wstring(owner.pid) + L")";
}

std::wstring EndQuestion(const std::wstring& warning) { return warning + L"\n\nDo you want to end it anyway?"; }

std::wstring StopQuestion(const CLockItem& owner, const CServiceStop& stop)
{
    std::wstring question = Described(owner) + L" hosts these services: " + ServiceNames(stop.services) + L".";
    if (!stop.dependants.empty())
        question += L"\nThese running services depend on them and stop first: " + ServiceNames(stop.dependants) + L".";
    return question + L"\n\nDo you want to stop them?";
}

std::wstring UnclosedQuestion(const std::vector<const CLockItem*>& owners, DWORD timeoutMs)
{
    std::wstring question = L"These programs are still running " + SecondsText(timeoutMs) +
                            L" after they were asked to close (a program may be asking a question of its own, "
                            L"such as whether to save changes):";
    for (const CLockItem* owner : owners)
        question += L"\n" + Described(*owner);
    return question + L"\n\nEnd the programs that did not close?";
}

std::wstring NothingChosenMessage(RemovalCommand command)
{
    return command == RemovalCommand::Close ? L"To use \"Close Program\", please select a process to close."
                                            : L"To use \"Terminate\", please select a process to terminate.";
}

// False when the command ends before any lock is touched: nothing chosen where there was
// something to choose, or everything in the system to unlock and the question answered No.
bool GoesOn(const CTarget& target, const CRemovalRequest& request, IRemovalPrompts& prompts, RemovalStop& stopped)
{
    switch (request.command) {
    case RemovalCommand::Unlock:
        if (request.rows.empty() && request.rowsListed) {
            prompts.Tell(L"To use \"Unlock\", please select a handle to unlock.\nAlternatively, use \"Unlock All\".");
            stopped = RemovalStop::NothingChosen;
        }
        break;
    case RemovalCommand::UnlockAll:
        if (!request.rows.empty() && target.showAll &&
            !prompts.ConfirmUnlockAll(
                L"Are you sure you want to remove all locks?  This will likely crash your system!"))
            stopped = RemovalStop::Declined;
        break;
    case RemovalCommand::Terminate:
    case RemovalCommand::Close:
        // With rows listed and none chosen the person meant one of them, and nothing follows;
        // with an empty list the after-action does.
        if (!request.rows.empty())
            break;
        if (request.rowsListed || request.command == RemovalCommand::Terminate)
            prompts.Tell(NothingChosenMessage(request.command));
        if (request.rowsListed)
            stopped = RemovalStop::NothingChosen;
        break;
    }
    return stopped == RemovalStop::None;
}

class CRemoval {
public:
    CRemoval(const CSystemServices& services, const CTarget& target, IRemovalPrompts& prompts, CRemovalOutcome& outcome)
        : services_(services), target_(target), prompts_(prompts), outcome_(outcome)
    {
    }

    void Unlock(const std::vector<COwner>& owners)
    {
        CHandleCloser closer(services_, target_.drives);
        for (const COwner& owner : owners) {
            const std::vector<UnlockResult> results =
                IsSelf(owner) ? std::vector<UnlockResult>(owner.rows.size(), UnlockResult::Self)
                              : closer.CloseOwnerRows(owner.rows);
            for (std::size_t i = 0; i < owner.rows.size(); ++i) {
                CRowOutcome row;
                row.row = owner.rows[i];
                row.unlocked = results[i];
                Tell(row, results[i] == UnlockResult::Closed, {owner.rows[i]});
            }
        }
    }

    void Terminate(std::vector<COwner>& owners)
    {
        if (!End(Pointers(owners))) {
            outcome_.stopped = RemovalStop::Declined;
            return;
        }
        TellAll(owners);
    }

    // Asks every owner to end, waits for them until the time is up, and ends those that did
    // not close only when the front end says so.
    void Close(std::vector<COwner>& owners, DWORD timeoutMs)
    {
        const std::vector<COwner*> reachable = Reachable(owners);
        LearnServices(reachable);
        const std::optional<std::vector<COwner*>> stopping = AgreedServiceStops(reachable);
        if (!stopping) {
            outcome_.stopped = RemovalStop::Declined;
            return;
        }
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        const std::vector<COwner*> windowed = AskThroughWindows(reachable);
        std::vector<COwner*> asked = windowed;
        for (COwner* owner : *stopping) {
            if (StopServices(*owner, deadline))
                asked.push_back(owner);
        }
        WaitForEnds(ThoseThatCanEnd(asked), deadline);
        for (COwner* owner : windowed) {
            if (owner->outcome.gone)
                owner->outcome.closed = CloseResult::Closed;
        }
        EndUnclosed(asked, timeoutMs);
        TellAll(owners);
    }

private:
    // The owners that can be acted on, each opened and held; the others have their outcome.
    static std::vector<COwner*> Reachable(std::vector<COwner>& owners)
    {
        std::vector<COwner*> reachable;
        for (COwner& owner : owners) {
            bool otherProcess = false;
            if (IsSelf(owner)) {
                owner.outcome.closed = CloseResult::Self;
                continue;
            }
            owner.process = OpenRowProcess(owner.first(), SYNCHRONIZE, otherProcess);
            if (!owner.process) {
                owner.outcome.closed = otherProcess ? CloseResult::OtherProcess : CloseResult::NotOpened;
                continue;
            }
            owner.outcome.closed = CloseResult::CannotBeAsked;
            reachable.push_back(&owner);
        }
        return reachable;
    }

    // The services each owner hosts now, from one query of the service manager.
    static void LearnServices(const std::vector<COwner*>& owners)
    {
        const CServicesByProcess running = RunningServicesByProcess();
        for (COwner* owner : owners)
            owner->services = ServicesOf(running, owner->first().pid);
    }

    // Asks about every owner's services before any owner is touched. The owners whose services
    // are to stop; nothing after a Stop.
    std::optional<std::vector<COwner*>> AgreedServiceStops(const std::vector<COwner*>& reachable)
    {
        std::vector<COwner*> agreed;
        for (COwner* owner : reachable) {
            if (owner->services.empty())
                continue;
            owner->stop = PlanServiceStop(owner->services);
            const Consent answer =
                prompts_.ConfirmStopServices(owner->first(), owner->stop, StopQuestion(owner->first(), owner->stop));
            if (answer == Consent::Stop)
                return std::nullopt;
            if (answer == Consent::No)
                owner->outcome.closed = CloseResult::Declined;
            else
                agreed.push_back(owner);
        }
        return agreed;
    }

    // Asks the owners that host no service to close their windows; those that had any.
    static std::vector<COwner*> AskThroughWindows(const std::vector<COwner*>& reachable)
    {
        std::vector<COwner*> asked;
        for (COwner* owner : reachable) {
            if (owner->services.empty() && AskWindowsToClose(owner->first().pid) > 0) {
                owner->outcome.closed = CloseResult::StillRunning;  // until it is seen to end
                asked.push_back(owner);
            }
        }
        return asked;
    }

    // Stops the running services that depend on the owner's first, then its own, each waited
    // for until the manager reports it stopped. False when the manager refused one.
    bool StopServices(COwner& owner, ULONGLONG deadline)
    {
        std::vector<CHostedService> order = owner.stop.dependants;
        order.insert(order.end(), owner.stop.services.begin(), owner.stop.services.end());
        for (const CHostedService& service : order) {
            if (const std::wstring refused = RequestServiceStop(service); !refused.empty()) {
                owner.outcome.closed = CloseResult::Refused;
                owner.outcome.detail = ServiceNames({service}) + L": " + refused;
                return false;
            }
            if (!WaitUntilStopped(service, deadline)) {
                owner.outcome.closed = CloseResult::StillRunning;
                owner.outcome.detail = ServiceNames({service}) + L" has not stopped";
                return true;
            }
        }
        owner.outcome.closed = CloseResult::Stopped;
        owner.outcome.detail = ServiceNames(order);
        return true;
    }

    bool WaitUntilStopped(const CHostedService& service, ULONGLONG deadline)
    {
        while (!ServiceStopped(service)) {
            if (Remaining(deadline) == 0)
                return false;
            prompts_.Wait(nullptr, std::min(kServicePollMs, Remaining(deadline)));
        }
        return true;
    }

    // A process that still hosts services after some of its own stopped will not end of
    // itself: it is not waited for.
    static std::vector<COwner*> ThoseThatCanEnd(const std::vector<COwner*>& owners)
    {
        const CServicesByProcess running = RunningServicesByProcess();
        std::vector<COwner*> canEnd;
        for (COwner* owner : owners) {
            if (owner->outcome.closed != CloseResult::Stopped || ServicesOf(running, owner->first().pid).empty())
                canEnd.push_back(owner);
        }
        return canEnd;
    }

    void WaitForEnds(const std::vector<COwner*>& owners, ULONGLONG deadline)
    {
        for (COwner* owner : owners)
            owner->outcome.gone = prompts_.Wait(owner->process.get(), Remaining(deadline));
    }

    // The programs asked that are still running are ended only when the front end says so.
    void EndUnclosed(const std::vector<COwner*>& asked, DWORD timeoutMs)
    {
        std::vector<COwner*> unclosed;
        std::vector<const CLockItem*> rows;
        for (COwner* owner : asked) {
            if (!owner->outcome.gone) {
                unclosed.push_back(owner);
                rows.push_back(&owner->first());
            }
        }
        if (unclosed.empty() || !prompts_.ConfirmEndUnclosed(rows, UnclosedQuestion(rows, timeoutMs)))
            return;
        const bool agreed = End(unclosed);
        for (COwner* owner : unclosed) {
            owner->outcome.thenEnded = true;
            if (!agreed)
                owner->outcome.ended = EndResult::Declined;
        }
    }

    // Ends the owners, the questions about all of them first, and waits for them to be gone.
    // False, with none of them ended, when a question was answered Stop.
    bool End(const std::vector<COwner*>& owners)
    {
        LearnServices(owners);
        std::set<const COwner*> spared;
        for (const COwner* owner : owners) {
            const Consent answer = IsSelf(*owner) ? Consent::Yes : AskBeforeEnding(*owner);
            if (answer == Consent::Stop)
                return false;
            if (answer == Consent::No)
                spared.insert(owner);
        }
        std::vector<COwner*> ended;
        for (COwner* owner : owners) {
            EndOne(*owner, spared.count(owner) != 0);
            if (owner->outcome.ended == EndResult::Ended)
                ended.push_back(owner);
        }
        WaitForEnds(ended, ::GetTickCount64() + kEndWaitMs);
        return true;
    }

    // A process whose end takes more with it (Windows itself, or services) is ended only after
    // a Yes.
    Consent AskBeforeEnding(const COwner& owner)
    {
        const CLockItem& row = owner.first();
        if (IsCriticalOwner(services_, row)) {
            std::wstring warning = CriticalProcessWarning(row);
            if (!owner.services.empty())
                warning += L"\n" + ServiceHostWarning(row, owner.services);
            return prompts_.ConfirmEndCritical(row, EndQuestion(warning));
        }
        if (owner.services.empty())
            return Consent::Yes;
        return prompts_.ConfirmEndServiceHost(row, owner.services,
                                              EndQuestion(ServiceHostWarning(row, owner.services)));
    }

    static void EndOne(COwner& owner, bool spared)
    {
        CRowOutcome& outcome = owner.outcome;
        bool otherProcess = false;
        if (IsSelf(owner) || spared) {
            outcome.ended = IsSelf(owner) ? EndResult::Self : EndResult::Declined;
            return;
        }
        if (!owner.process)
            owner.process = OpenRowProcess(owner.first(), SYNCHRONIZE, otherProcess);
        outcome.ended = !owner.process ? (otherProcess ? EndResult::OtherProcess : EndResult::NotOpened)
                                       : TerminateOwner(owner.first());
    }

    void TellAll(const std::vector<COwner>& owners)
    {
        for (const COwner& owner : owners)
            Tell(owner.outcome, owner.outcome.gone, owner.rows);
    }

    void Tell(const CRowOutcome& row, bool gone, const COwnerRows& rows)
    {
        outcome_.outcomes.push_back(row);
        prompts_.Report(row);
        if (gone)
            outcome_.removed.insert(outcome_.removed.end(), rows.begin(), rows.end());
    }

    const CSystemServices& services_;
    const CTarget& target_;
    IRemovalPrompts& prompts_;
    CRemovalOutcome& outcome_;
};

}  // namespace

bool IRemovalPrompts::Wait(HANDLE object, DWORD ms)
{
    if (object)
        return ::WaitForSingleObject(object, ms) == WAIT_OBJECT_0;
    ::Sleep(ms);
    return false;
}

std::wstring SecondsText(DWORD ms)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%g", ms / 1000.0);
    return std::wstring(text) + (ms == 1000 ? L" second" : L" seconds");
}

std::wstring ServiceHostWarning(const CLockItem& owner, const std::vector<CHostedService>& services)
{
    return Described(owner) + L" hosts services: ending it stops these services: " + ServiceNames(services) + L".";
}

std::wstring ProcessText(const CLockItem& owner)
{
    return owner.processName + L" (PID " + std::to_wstring(owner.pid) + L")";
}

std::wstring EndOutcomeText(const CRowOutcome& outcome)
{
    const std::wstring who = ProcessText(*outcome.row);
    switch (outcome.ended) {
    case EndResult::Ended:
        return (outcome.gone ? L"Ended: " : L"Ended, but not gone after " + SecondsText(kEndWaitMs) + L": ") + who;
    case EndResult::OtherProcess: return kOtherProcess + who;
    case EndResult::Declined: return L"Left alone, a critical process or a service host: " + who;
    case EndResult::Self: return kSelf + who;
    case EndResult::NotOpened: break;
    }
    return L"Could not end: " + who;
}

std::wstring CloseOutcomeText(const CRowOutcome& outcome, DWORD timeoutMs)
{
    const std::wstring who = ProcessText(*outcome.row);
    switch (outcome.closed) {
    case CloseResult::Closed: return L"Closed: " + who;
    case CloseResult::Stopped:
        return L"Stopped: " + who + L", its services " + outcome.detail +
               (outcome.gone ? L"; it has ended" : L"; it still runs");
    case CloseResult::StillRunning:
        return L"Still running after " + SecondsText(timeoutMs) + L": " + who +
               (outcome.detail.empty() ? L" (it may be asking a question of its own)" : L" (" + outcome.detail + L")");
    case CloseResult::CannotBeAsked: return L"Cannot be asked, it shows no window and hosts no service: " + who;
    case CloseResult::Refused: return L"Refused: " + who + L", the service manager would not stop " + outcome.detail;
    case CloseResult::Declined: return L"Left alone, its services are not to be stopped: " + who;
    case CloseResult::OtherProcess: return kOtherProcess + who;
    case CloseResult::Self: return kSelf + who;
    case CloseResult::NotOpened: break;
    }
    return L"Could not ask: " + who;
}

CRemovalOutcome RunRemoval(const CSystemServices& services, const CTarget& target, const CRemovalRequest& request,
                           IRemovalPrompts& prompts)
{
    CRemovalOutcome outcome;
    if (!GoesOn(target, request, prompts, outcome.stopped))
        return outcome;
    CRemoval removal(services, target, prompts, outcome);
    std::vector<COwner> owners = ByOwner(request.rows);
    switch (request.command) {
    case RemovalCommand::Terminate: removal.Terminate(owners); break;
    case RemovalCommand::Close: removal.Close(owners, request.closeTimeoutMs); break;
    case RemovalCommand::Unlock:
    case RemovalCommand::UnlockAll: removal.Unlock(owners); break;
    }
    if (outcome.stopped != RemovalStop::None)
        return outcome;
    if (!prompts.LocksRemoved(outcome.removed)) {
        outcome.stopped = RemovalStop::Interrupted;
        return outcome;
    }
    outcome.action = CarryOutAfterAction(target, request.afterAction, prompts);
    return outcome;
}

}  // namespace tarnwick
