#pragma once
// The one sequence of every command that removes locks: the window's "Unlock", "Unlock All"
// and "Terminate", and the command-line program's unlock and kill. Rows in, outcomes out;
// the questions go through one prompt interface that each front end answers its own way.

#include <string>
#include <vector>

#include "LockRecords.h"
#include "LockRemoval.h"
#include "PathActions.h"
#include "SystemServices.h"
#include "TargetPath.h"

namespace tarnwick {

enum class RemovalCommand { Unlock, UnlockAll, Terminate };

// A reply to a question about one process; Stop ends the whole command before any lock
// is touched.
enum class Consent { Yes, No, Stop };

// What became of one lock, or for Terminate of one owner (told with the first of its rows).
struct CRowOutcome {
    const CLockItem* row = nullptr;
    UnlockResult unlocked = UnlockResult::NotOpened;  // Unlock, Unlock All
    EndResult ended = EndResult::NotOpened;           // Terminate
};

class IRemovalPrompts : public IActionPrompts {
public:
    // "Unlock All" would close every lock in the system.
    virtual bool ConfirmUnlockAll(const std::wstring& question) = 0;
    // An owner to end is a process Windows cannot run without.
    virtual Consent ConfirmEndCritical(const CLockItem& owner, const std::wstring& question) = 0;
    virtual void Report(const CRowOutcome&) {}
    // The locks are dealt with (removed: the rows whose lock is gone) and the after-action
    // comes next; false ends the command here.
    virtual bool LocksRemoved(const std::vector<const CLockItem*>& /*removed*/) { return true; }
};

struct CRemovalRequest {
    RemovalCommand command = RemovalCommand::Unlock;
    std::vector<const CLockItem*> rows;  // the chosen rows: the selected ones, or all of them
    bool rowsListed = false;             // whether there are rows at all to choose from
    CAfterActionRequest afterAction;     // must have passed AfterActionProblem
};

// Why a command ended before its after-action; None when it ran to the end.
enum class RemovalStop { None, NothingChosen, Declined, Interrupted };

struct CRemovalOutcome {
    RemovalStop stopped = RemovalStop::None;
    std::vector<CRowOutcome> outcomes;
    std::vector<const CLockItem*> removed;  // the rows whose lock is gone, in the rows' order
    CActionOutcome action;
};

// Acts on the chosen rows, each owner once, and then carries out the after-action on the
// target. Tarnwick's own process is never acted on.
CRemovalOutcome RunRemoval(const CSystemServices& services, const CTarget& target, const CRemovalRequest& request,
                           IRemovalPrompts& prompts);

}  // namespace tarnwick
