#include "RemovalSequence.h"

#include <algorithm>
#include <set>

namespace tarnwick {

namespace {

using COwnerRows = std::vector<const CLockItem*>;

// The rows grouped by owner (process id and creation time), owners in the order of their
// first row.
std::vector<COwnerRows> ByOwner(const std::vector<const CLockItem*>& rows)
{
    std::vector<COwnerRows> owners;
    for (const CLockItem* row : rows) {
        auto same = std::find_if(owners.begin(), owners.end(), [row](const COwnerRows& owner) {
            return owner.front()->pid == row->pid && owner.front()->processCreated == row->processCreated;
        });
        if (same == owners.end())
            owners.push_back({row});
        else
            same->push_back(row);
    }
    return owners;
}

bool IsSelf(const COwnerRows& owner) { return owner.front()->pid == ::GetCurrentProcessId(); }

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
        // The after-action still follows.
        if (request.rows.empty())
            prompts.Tell(L"To use \"Terminate\", please select a process to terminate.");
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

    void Unlock(const std::vector<COwnerRows>& owners)
    {
        CHandleCloser closer(services_, target_.drives);
        for (const COwnerRows& owner : owners) {
            const std::vector<UnlockResult> results = IsSelf(owner)
                                                          ? std::vector<UnlockResult>(owner.size(), UnlockResult::Self)
                                                          : closer.CloseOwnerRows(owner);
            for (std::size_t i = 0; i < owner.size(); ++i) {
                CRowOutcome row{owner[i], results[i]};
                Tell(row, results[i] == UnlockResult::Closed, {owner[i]});
            }
        }
    }

    // Asks about every critical owner first, so that a Stop leaves all of them untouched.
    void Terminate(const std::vector<COwnerRows>& owners)
    {
        std::set<const CLockItem*> declined;
        for (const COwnerRows& owner : owners) {
            if (IsSelf(owner) || !IsCriticalOwner(services_, *owner.front()))
                continue;
            const Consent answer = prompts_.ConfirmEndCritical(
                *owner.front(), CriticalProcessWarning(*owner.front()) + L"\n\nDo you want to end it anyway?");
            if (answer == Consent::Stop) {
                outcome_.stopped = RemovalStop::Declined;
                return;
            }
            if (answer == Consent::No)
                declined.insert(owner.front());
        }
        for (const COwnerRows& owner : owners) {
            CRowOutcome row{owner.front()};
            row.ended = IsSelf(owner)                   ? EndResult::Self
                        : declined.count(owner.front()) ? EndResult::Declined
                                                        : TerminateOwner(*owner.front());
            Tell(row, row.ended == EndResult::Ended, owner);
        }
    }

private:
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

CRemovalOutcome RunRemoval(const CSystemServices& services, const CTarget& target, const CRemovalRequest& request,
                           IRemovalPrompts& prompts)
{
    CRemovalOutcome outcome;
    if (!GoesOn(target, request, prompts, outcome.stopped))
        return outcome;
    CRemoval removal(services, target, prompts, outcome);
    if (request.command == RemovalCommand::Terminate)
        removal.Terminate(ByOwner(request.rows));
    else
        removal.Unlock(ByOwner(request.rows));
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
