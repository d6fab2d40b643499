#include "CliOptions.h"

#include <cwchar>

namespace tarnwick::cli {

namespace {

constexpr DWORD kLongestWaitSeconds = 86400;

const wchar_t* CommandName(Command command)
{
    switch (command) {
    case Command::List: return L"list";
    case Command::Unlock: return L"unlock";
    case Command::Kill: return L"kill";
    case Command::Help: break;
    }
    return L"";
}

// A name within a folder: no separator or stream colon, and no dot or blank at the end,
// which the system would drop.
bool IsPlainName(const std::wstring& name)
{
    return name.find_first_of(L"\\/:") == std::wstring::npos && name.back() != L'.' && name.back() != L' ';
}

bool IsHelp(const std::wstring& arg) { return arg == L"--help" || arg == L"-h" || arg == L"/?"; }

bool ParsePid(const std::wstring& text, DWORD& pid)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    const unsigned long long value = std::wcstoull(text.c_str(), nullptr, 10);
    if (value > MAXDWORD)
        return false;
    pid = DWORD(value);
    return true;
}

// Whole or decimal seconds ("2", "0.5"); no sign, no exponent.
bool ParseSeconds(const std::wstring& text, DWORD& ms)
{
    const std::size_t point = text.find(L'.');
    const std::wstring whole = text.substr(0, point);
    const std::wstring fraction = point == std::wstring::npos ? L"" : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 5 ||
        whole.find_first_not_of(L"0123456789") != std::wstring::npos ||
        fraction.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    if (point != std::wstring::npos && fraction.empty())
        return false;
    const double seconds = std::wcstod(text.c_str(), nullptr);
    if (seconds > kLongestWaitSeconds)
        return false;
    ms = DWORD(seconds * 1000 + 0.5);
    return true;
}

class CParser {
public:
    explicit CParser(CCliOptions& options) : o_(options) {}

    void Flag(const std::wstring& name)
    {
        if (name == L"--delete") {
            Action(AfterAction::Delete, name);
            return;
        }
        if (name == L"--all")
            o_.all = true;
        else if (name == L"--json")
            o_.json = true;
        else if (name == L"--at-boot")
            o_.atBoot = true;
        else if (name == L"--force")
            o_.force = true;
        Note(name);
    }

    bool IsFlag(const std::wstring& name) const
    {
        return name == L"--all" || name == L"--json" || name == L"--delete" || name == L"--at-boot" ||
               name == L"--force";
    }

    bool TakesValue(const std::wstring& name) const
    {
        return name == L"--pid" || name == L"--rename-to" || name == L"--move-to" || name == L"--wait";
    }

    // An empty string when the value was taken; the message otherwise.
    std::wstring Valued(const std::wstring& name, const std::wstring& value)
    {
        if (name == L"--pid") {
            if (o_.hasPid)
                return L"--pid is given twice.";
            if (!ParsePid(value, o_.pid))
                return L"--pid needs a process id (a whole number), not \"" + value + L"\".";
            o_.hasPid = true;
        } else if (name == L"--wait") {
            if (o_.hasWait)
                return L"--wait is given twice.";
            if (!ParseSeconds(value, o_.waitMs))
                return L"--wait needs a number of seconds from 0 to " + std::to_wstring(kLongestWaitSeconds) +
                       L", not \"" + value + L"\".";
            o_.hasWait = true;
        } else if (name == L"--rename-to") {
            if (value.empty())
                return L"--rename-to needs the new name.";
            if (!IsPlainName(value))
                return L"--rename-to needs a name within PATH's folder (no \\, / or :, and no dot or blank at "
                       L"its end), not \"" +
                       value + L"\".";
            o_.newName = value;
            Action(AfterAction::RenameTo, name);
            return L"";
        } else if (name == L"--move-to") {
            if (value.empty())
                return L"--move-to needs the folder to move into.";
            o_.destination = value;
            Action(AfterAction::MoveTo, name);
            return L"";
        }
        Note(name);
        return L"";
    }

    std::wstring Positional(const std::wstring& arg)
    {
        if (!commandSeen_) {
            commandSeen_ = true;
            if (arg == L"list")
                o_.command = Command::List;
            else if (arg == L"unlock")
                o_.command = Command::Unlock;
            else if (arg == L"kill")
                o_.command = Command::Kill;
            else
                return L"Unknown command \"" + arg + L"\"; the commands are list, unlock and kill.";
            return L"";
        }
        if (pathSeen_)
            return L"Unexpected argument \"" + arg + L"\": give one PATH only.";
        pathSeen_ = true;
        o_.path = arg;
        return L"";
    }

    // The combinations that make no sense, checked once every argument is read.
    std::wstring Finish() const
    {
        if (!commandSeen_)
            return L"No command given.";
        const std::wstring command = CommandName(o_.command);
        if (o_.command == Command::List) {
            if (!firstRemovalOption_.empty())
                return firstRemovalOption_ + L" works with unlock and kill only.";
            if (o_.all && pathSeen_)
                return L"list --all shows every lock in the system and takes no PATH.";
        } else if (!firstListOption_.empty()) {
            return firstListOption_ + L" works with list only.";
        }
        const bool needsPath = !(o_.command == Command::List && o_.all);
        if (needsPath && !pathSeen_)
            return command + (o_.command == Command::List ? L" needs a PATH (or --all)." : L" needs a PATH.");
        if (pathSeen_ && o_.path.empty())
            return L"The PATH is empty.";
        if (actions_ > 1)
            return L"Choose one of --delete, --rename-to and --move-to.";
        if (o_.atBoot && o_.afterAction != AfterAction::Delete)
            return L"--at-boot works with --delete only.";
        return L"";
    }

private:
    void Action(AfterAction action, const std::wstring& name)
    {
        if (o_.afterAction != action)
            ++actions_;
        o_.afterAction = action;
        Note(name);
    }

    // Remembers the first option that belongs to one side only, for the message.
    void Note(const std::wstring& name)
    {
        const bool listOnly = name == L"--all" || name == L"--json";
        std::wstring& first = listOnly ? firstListOption_ : firstRemovalOption_;
        if (first.empty())
            first = name;
    }

    CCliOptions& o_;
    bool commandSeen_ = false;
    bool pathSeen_ = false;
    int actions_ = 0;
    std::wstring firstListOption_;
    std::wstring firstRemovalOption_;
};

}  // namespace

CParsedCommandLine ParseCliOptions(const std::vector<std::wstring>& arguments)
{
    CParsedCommandLine result;
    for (const std::wstring& arg : arguments) {
        if (IsHelp(arg))
            return result;  // help wins over anything else on the line
    }
    CParser parser(result.options);
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size() && result.error.empty(); ++i) {
        const std::wstring& arg = arguments[i];
        if (optionsEnded || arg.empty() || arg[0] != L'-' || arg == L"-") {
            result.error = parser.Positional(arg);
            continue;
        }
        if (arg == L"--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find(L'=');
        const std::wstring name = arg.substr(0, equals);
        if (parser.IsFlag(name)) {
            if (equals == std::wstring::npos)
                parser.Flag(name);
            else
                result.error = name + L" takes no value.";
        } else if (parser.TakesValue(name)) {
            if (equals != std::wstring::npos)
                result.error = parser.Valued(name, arg.substr(equals + 1));
            else if (i + 1 < arguments.size())
                result.error = parser.Valued(name, arguments[++i]);
            else
                result.error = name + L" needs a value.";
        } else {
            result.error = L"Unknown option \"" + arg + L"\".";
        }
    }
    if (result.error.empty())
        result.error = parser.Finish();
    return result;
}

std::wstring HelpText()
{
    return LR"(Usage:
  tarnwick-cli list PATH [--json]
  tarnwick-cli list --all [--json]
  tarnwick-cli unlock PATH [--pid N] [AFTER] [--wait SECONDS]
  tarnwick-cli kill PATH [--pid N] [--force] [AFTER] [--wait SECONDS]
  AFTER: --delete [--at-boot] | --rename-to NAME | --move-to DIR

Finds the processes that hold PATH open (open file handles, loaded modules and files
mapped into memory; for a folder or a drive, everything beneath it too) and removes
those locks.

Commands:
  list      Print one line per lock: Process, PID, Owner, Kind (handle, module or
            mapping), Path.
  unlock    Close the handles that lock PATH inside their processes. Modules and mapped
            views cannot be closed this way; they are reported as not closable.
  kill      End the processes that hold locks on PATH.

Options:
  --all             list: every lock in the system instead of those on PATH.
  --json            list: print a JSON array of objects with the fields process, pid,
                    owner, kind, path, handle, loadAddress, viewAddress (the one of the
                    lock's kind is a number, the others null) and imagePath.
  --pid N           unlock, kill: only the locks of process N; N must hold a lock on PATH.
  --force           kill: end critical processes of Windows too, which stops Windows at
                    once; without it kill refuses them and does nothing.
  --delete          Afterwards delete PATH (to the Recycle Bin where there is one).
  --at-boot         With --delete: when PATH is still busy, delete it at the next boot.
  --rename-to NAME  Afterwards rename PATH to NAME within its folder.
  --move-to DIR     Afterwards move PATH into the existing folder DIR, not its own.
  --wait SECONDS    Rescan until no lock remains or the time is up, before the
                    after-action. Without it the result is checked once, at once; kill
                    does not wait for ended processes to go away.
  --help            Print this text.

With --pid only that process's locks count towards the result. No question is ever asked.
A handle is closed and a process ended only while it is still the one the scan found.
A drive root, the Windows and system folders, the program folders, the program-data
folder, the users' folder and a user's profile folder are never deleted, renamed or
moved; listing and unlocking them without AFTER works.
When processes refuse to be examined or handles do not give their names in time, standard
error says how many (with --json as an object with processesRefused and handlesGivenUp).

Exit codes:
  0  No lock is left on PATH and the after-action succeeded (list: no lock found).
  1  Locks remain, or the after-action failed (list: locks found).
  2  Bad usage: unknown command or option, missing or unreadable PATH, a PATH that names
     a device, AFTER on a folder that is never acted on, a --rename-to that is no plain
     name, a move-to folder that does not exist or is PATH's own, a --pid that holds no
     lock on PATH, or a critical process to kill without --force.
  3  The system services the scan needs could not be bound, or the scan could not run.
)";
}

}  // namespace tarnwick::cli
