#include "CliOptions.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <optional>

namespace tarnwick::cli {

namespace {

constexpr DWORD kLongestWaitSeconds = 86400;

// The commands an option works with, one bit each.
enum CommandBits : unsigned {
    kList = 1,
    kUnlock = 2,
    kKill = 4,
    kClose = 8,
    kRemovals = kUnlock | kKill | kClose,
};

struct CCommandSpec {
    const wchar_t* name;
    Command command;
    unsigned bit;
};
constexpr CCommandSpec kCommands[] = {{L"list", Command::List, kList},
                                      {L"unlock", Command::Unlock, kUnlock},
                                      {L"kill", Command::Kill, kKill},
                                      {L"close", Command::Close, kClose}};

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

// A number of seconds into time, once.
std::wstring TakeTime(const wchar_t* name, std::optional<DWORD>& time, const std::wstring& value)
{
    if (time)
        return std::wstring(name) + L" is given twice.";
    time = ParseSeconds(value);
    if (time)
        return {};
    return std::wstring(name) + L" needs a number of seconds from 0 to " + std::to_wstring(kLongestWaitSeconds) +
           L", not \"" + value + L"\".";
}

std::wstring TakeWait(CParseState& s, const std::wstring& value)
{
    return TakeTime(L"--wait", s.options.waitMs, value);
}
std::wstring TakeTimeout(CParseState& s, const std::wstring& value)
{
    return TakeTime(L"--timeout", s.options.timeoutMs, value);
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

// One option: its name, whether a value follows it, the commands it works with, and what it sets.
struct COptionSpec {
    const wchar_t* name;
    bool takesValue;
    unsigned commands;
    std::wstring (*take)(CParseState& state, const std::wstring& value);
};

constexpr COptionSpec kOptions[] = {
    {L"--all", false, kList, TakeSwitch<&CCliOptions::all>},
    {L"--json", false, kList, TakeSwitch<&CCliOptions::json>},
    {L"--pid", true, kRemovals, TakePid},
    {L"--force", false, kKill | kClose, TakeSwitch<&CCliOptions::force>},
    {L"--delete", false, kRemovals, TakeDelete},
    {L"--at-boot", false, kRemovals, TakeSwitch<&CCliOptions::atBoot>},
    {L"--rename-to", true, kRemovals, TakeNewName},
    {L"--move-to", true, kRemovals, TakeDestination},
    {L"--wait", true, kRemovals, TakeWait},
    {L"--timeout", true, kClose, TakeTimeout},
    {L"--then-kill", false, kClose, TakeSwitch<&CCliOptions::thenKill>},
};

// "list", "kill and close", "unlock, kill and close": the commands of a set of bits.
std::wstring CommandNames(unsigned commands)
{
    std::vector<std::wstring> names;
    for (const CCommandSpec& command : kCommands) {
        if (commands & command.bit)
            names.push_back(command.name);
    }
    std::wstring joined;
    for (std::size_t i = 0; i < names.size(); ++i)
        joined += (i == 0 ? L"" : i + 1 == names.size() ? L" and " : L", ") + names[i];
    return joined;
}

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
        given_.push_back(&option);
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
            return L"Unknown command \"" + arg + L"\"; the commands are " + CommandNames(~0u) + L".";
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
        const unsigned bit = Spec(o.command).bit;
        for (const COptionSpec* option : given_) {
            if (!(option->commands & bit))
                return option->name + std::wstring(L" works with ") + CommandNames(option->commands) + L" only.";
        }
        if (o.command == Command::List && o.all && pathSeen_)
            return L"list --all shows every lock in the system and takes no PATH.";
        const bool needsPath = !(o.command == Command::List && o.all);
        if (needsPath && !pathSeen_)
            return Spec(o.command).name +
                   std::wstring(o.command == Command::List ? L" needs a PATH (or --all)." : L" needs a PATH.");
        if (pathSeen_ && o.path.empty())
            return L"The PATH is empty.";
        if (state_.afterActions > 1)
            return L"Choose one of --delete, --rename-to and --move-to.";
        if (o.atBoot && o.afterAction != AfterAction::Delete)
            return L"--at-boot works with --delete only.";
        return L"";
    }

private:
    static const CCommandSpec& Spec(Command command)
    {
        return *std::find_if(std::begin(kCommands), std::end(kCommands),
                             [command](const CCommandSpec& spec) { return spec.command == command; });
    }

    CParseState state_;
    bool commandSeen_ = false;
    bool pathSeen_ = false;
    std::vector<const COptionSpec*> given_;  // in the order given
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
  tarnwick-cli close PATH [--pid N] [--timeout SECONDS] [--then-kill] [--force] [AFTER] [--wait SECONDS]
  AFTER: --delete [--at-boot] | --rename-to NAME | --move-to DIR

Finds the processes that hold PATH open (open file handles, loaded modules and files
mapped into memory; for a folder or a drive, everything beneath it too) and removes
those locks.

Commands:
  list      Print one line per lock: Process, PID, Owner, Kind (handle, module or
            mapping), Windows (whether the process shows windows), Services (those it
            hosts), Path.
  unlock    Close the handles that lock PATH inside their processes. Modules and mapped
            views cannot be closed this way; they are reported as not closable.
  kill      End the processes that hold locks on PATH, and wait up to 5 seconds for each
            to be gone.
  close     Ask the processes that hold locks on PATH to end, as Windows does before an
            update: the services a process hosts are stopped through the service
            manager, a program's windows are asked to close (it may ask to save its
            work), and the programs are waited for. A process with neither is reported
            as one that cannot be asked and left alone. Nothing is ended unless
            --then-kill is given.

Options:
  --all             list: every lock in the system instead of those on PATH.
  --json            list: print a JSON array of objects with the fields process, pid,
                    owner, kind, path, handle, loadAddress, viewAddress (the one of the
                    lock's kind is a number, the others null), imagePath, services (the
                    names of the services the process hosts) and hasWindows.
  --pid N           unlock, kill, close: only the locks of process N; N must hold a lock on
                    PATH.
  --force           kill: end critical processes of Windows too, which stops Windows at
                    once, and processes that host services, which stops the services;
                    without it kill refuses them and does nothing. close: stop services
                    that running services depend on (those stop first), and with
                    --then-kill end critical processes and service hosts.
  --timeout SECONDS close: how long the programs asked have to end (default 10).
  --then-kill       close: end the programs still running when the time is up.
  --delete          Afterwards delete PATH (to the Recycle Bin where there is one).
  --at-boot         With --delete: when PATH is still busy, delete it at the next boot.
  --rename-to NAME  Afterwards rename PATH to NAME within its folder.
  --move-to DIR     Afterwards move PATH into the existing folder DIR, not its own.
  --wait SECONDS    Rescan until no lock remains or the time is up, before the
                    after-action. Without it the result is checked once, at once.
  --help            Print this text.

With --pid only that process's locks count towards the result. No question is ever asked.
A handle is closed and a process asked or ended only while it is still the one the scan
found. A drive root, the Windows and system folders, the program folders, the
program-data folder, the users' folder and a user's profile folder are never deleted,
renamed or moved; listing and unlocking them without AFTER works. An after-action that
cannot succeed (a move into PATH itself or below it, a move or rename onto a name that
exists, a folder move to another volume) is refused before any lock is touched.
When processes refuse to be examined or handles do not give their names in time, standard
error says how many (with --json as an object with processesRefused and handlesGivenUp).

Exit codes:
  0  No lock is left on PATH and the after-action succeeded (list: no lock found).
  1  Locks remain, or the after-action failed (list: locks found); close: a program
     still running, one that cannot be asked, or a service the manager would not stop.
  2  Bad usage: unknown command or option, missing or unreadable PATH, a PATH that names
     a device, AFTER on a folder that is never acted on or that cannot succeed, a
     --rename-to that is no plain name, a move-to folder that does not exist or is
     PATH's own, a --pid that holds no lock on PATH, a critical process or a service
     host to kill without --force, or for close a service that running services depend
     on without --force.
  3  The system services the scan needs could not be bound, or the scan could not run.
)";
}

}  // namespace tarnwick::cli
