#include "CliOptions.h"

#include <cwchar>
#include <optional>

namespace tarnwick::cli {

namespace {

constexpr DWORD kLongestWaitSeconds = 86400;

struct CCommandSpec {
    const wchar_t* name;
    Command command;
};
constexpr CCommandSpec kCommands[] = {{L"list", Command::List}, {L"unlock", Command::Unlock}, {L"kill", Command::Kill}};

// A name within a folder: no separator or stream colon, and no dot or blank at the end,
// which the system would drop.
bool IsPlainName(const std::wstring& name)
{
    return name.find_first_of(L"\\/:") == std::wstring::npos && name.back() != L'.' && name.back() != L' ';
}

bool IsHelp(const std::wstring& arg) { return arg == L"--help" || arg == L"-h" || arg == L"/?"; }

std::optional<DWORD> ParsePid(const std::wstring& text)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    const unsigned long long value = std::wcstoull(text.c_str(), nullptr, 10);
    if (value > MAXDWORD)
        return std::nullopt;
    return DWORD(value);
}

// Whole or decimal seconds ("2", "0.5") in milliseconds; no sign, no exponent.
std::optional<DWORD> ParseSeconds(const std::wstring& text)
{
    const std::size_t point = text.find(L'.');
    const std::wstring whole = text.substr(0, point);
    const std::wstring fraction = point == std::wstring::npos ? L"" : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 5 ||
        whole.find_first_not_of(L"0123456789") != std::wstring::npos ||
        fraction.find_first_not_of(L"0123456789") != std::wstring::npos)
        return std::nullopt;
    if (point != std::wstring::npos && fraction.empty())
        return std::nullopt;
    const double seconds = std::wcstod(text.c_str(), nullptr);
    if (seconds > kLongestWaitSeconds)
        return std::nullopt;
    return DWORD(seconds * 1000 + 0.5);
}

// What the options have set so far, beyond the options themselves.
struct CParseState {
    CCliOptions& options;
    int afterActions = 0;  // how many different after-actions were named
};

void Choose(CParseState& state, AfterAction action)
{
    if (state.options.afterAction != action)
        ++state.afterActions;
    state.options.afterAction = action;
}

// Each takes one option (and its value) into the options; the message when the value is
// unusable, empty otherwise. A switch sets its flag.
template <bool CCliOptions::*Flag>
std::wstring TakeSwitch(CParseState& s, const std::wstring&)
{
    s.options.*Flag = true;
    return {};
}

std::wstring TakeDelete(CParseState& s, const std::wstring&)
{
    Choose(s, AfterAction::Delete);
    return {};
}

std::wstring TakePid(CParseState& s, const std::wstring& value)
{
    if (s.options.pid)
        return L"--pid is given twice.";
    s.options.pid = ParsePid(value);
    return s.options.pid ? L"" : L"--pid needs a process id (a whole number), not \"" + value + L"\".";
}

std::wstring TakeWait(CParseState& s, const std::wstring& value)
{
    if (s.options.waitMs)
        return L"--wait is given twice.";
    s.options.waitMs = ParseSeconds(value);
    if (s.options.waitMs)
        return {};
    return L"--wait needs a number of seconds from 0 to " + std::to_wstring(kLongestWaitSeconds) + L", not \"" + value +
           L"\".";
}

std::wstring TakeNewName(CParseState& s, const std::wstring& value)
{
    if (value.empty())
        return L"--rename-to needs the new name.";
    if (!IsPlainName(value))
        return L"--rename-to needs a name within PATH's folder (no \\, / or :, and no dot or blank at its end), "
               L"not \"" +
               value + L"\".";
    s.options.newName = value;
    Choose(s, AfterAction::RenameTo);
    return {};
}

std::wstring TakeDestination(CParseState& s, const std::wstring& value)
{
    if (value.empty())
        return L"--move-to needs the folder to move into.";
    s.options.destination = value;
    Choose(s, AfterAction::MoveTo);
    return {};
}

// One option: its name, whether a value follows it, whether it belongs to list (or else to
// unlock and kill), and what it sets.
struct COptionSpec {
    const wchar_t* name;
    bool takesValue;
    bool listOnly;
    std::wstring (*take)(CParseState& state, const std::wstring& value);
};

constexpr COptionSpec kOptions[] = {
    {L"--all", false, true, TakeSwitch<&CCliOptions::all>},
    {L"--json", false, true, TakeSwitch<&CCliOptions::json>},
    {L"--pid", true, false, TakePid},
    {L"--force", false, false, TakeSwitch<&CCliOptions::force>},
    {L"--delete", false, false, TakeDelete},
    {L"--at-boot", false, false, TakeSwitch<&CCliOptions::atBoot>},
    {L"--rename-to", true, false, TakeNewName},
    {L"--move-to", true, false, TakeDestination},
    {L"--wait", true, false, TakeWait},
};

const COptionSpec* FindOption(const std::wstring& name)
{
    for (const COptionSpec& option : kOptions) {
        if (name == option.name)
            return &option;
    }
    return nullptr;
}

class CParser {
public:
    explicit CParser(CCliOptions& options) : state_{options} {}

    // An empty string when the option was taken; the message otherwise.
    std::wstring Option(const COptionSpec& option, const std::wstring& value)
    {
        std::wstring& first = option.listOnly ? firstListOption_ : firstRemovalOption_;
        if (first.empty())
            first = option.name;
        return option.take(state_, value);
    }

    std::wstring Positional(const std::wstring& arg)
    {
        CCliOptions& o = state_.options;
        if (!commandSeen_) {
            commandSeen_ = true;
            for (const CCommandSpec& command : kCommands) {
                if (arg == command.name) {
                    o.command = command.command;
                    return L"";
                }
            }
            return L"Unknown command \"" + arg + L"\"; the commands are list, unlock and kill.";
        }
        if (pathSeen_)
            return L"Unexpected argument \"" + arg + L"\": give one PATH only.";
        pathSeen_ = true;
        o.path = arg;
        return L"";
    }

    // The combinations that make no sense, checked once every argument is read.
    std::wstring Finish() const
    {
        const CCliOptions& o = state_.options;
        if (!commandSeen_)
            return L"No command given.";
        if (o.command == Command::List) {
            if (!firstRemovalOption_.empty())
                return firstRemovalOption_ + L" works with unlock and kill only.";
            if (o.all && pathSeen_)
                return L"list --all shows every lock in the system and takes no PATH.";
        } else if (!firstListOption_.empty()) {
            return firstListOption_ + L" works with list only.";
        }
        const bool needsPath = !(o.command == Command::List && o.all);
        if (needsPath && !pathSeen_)
            return CommandName(o.command) +
                   (o.command == Command::List ? L" needs a PATH (or --all)." : L" needs a PATH.");
        if (pathSeen_ && o.path.empty())
            return L"The PATH is empty.";
        if (state_.afterActions > 1)
            return L"Choose one of --delete, --rename-to and --move-to.";
        if (o.atBoot && o.afterAction != AfterAction::Delete)
            return L"--at-boot works with --delete only.";
        return L"";
    }

private:
    static std::wstring CommandName(Command command)
    {
        for (const CCommandSpec& spec : kCommands) {
            if (spec.command == command)
                return spec.name;
        }
        return L"";
    }

    CParseState state_;
    bool commandSeen_ = false;
    bool pathSeen_ = false;
    // The first option that belongs to one side only, for the message.
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
        const COptionSpec* option = FindOption(name);
        if (!option)
            result.error = L"Unknown option \"" + arg + L"\".";
        else if (!option->takesValue)
            result.error = equals == std::wstring::npos ? parser.Option(*option, L"") : name + L" takes no value.";
        else if (equals != std::wstring::npos)
            result.error = parser.Option(*option, arg.substr(equals + 1));
        else if (i + 1 < arguments.size())
            result.error = parser.Option(*option, arguments[++i]);
        else
            result.error = name + L" needs a value.";
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
