#pragma once
// A path as a person or a script wrote it, made once per command into the target every step
// of that command works on: the scan, the match, the checks before a lock is removed and the
// after-action.

#include <string>
#include <vector>

#include "PathForms.h"
#include "SystemServices.h"

namespace tarnwick {

struct CTargetPath {
    // Absolute, with backslashes, long names and no trailing backslash (a drive root keeps
    // its own), written through the folder or share a subst or network drive letter stands
    // for; empty when the written path was empty. A path written with the long-path prefix
    // is taken literally and keeps the prefix where the plain form would name something else
    // (a name ending in a dot or a blank).
    std::wstring path;
    // Why the written path cannot be a target (a device name); empty when it can.
    std::wstring problem;
};

// Resolves a relative path, "..", trailing dots and spaces as the system does, turns
// forward slashes into backslashes, resolves drive letters that stand for a folder or a
// share, expands 8.3 aliases, and takes a long-path or NT spelling of a drive path or
// share in its plain form where that names the same thing.
CTargetPath NormalizeTargetPath(const std::wstring& written, const CDriveAliases& aliases);

struct CTarget {
    std::wstring written;  // as it was written: what the messages about the scan quote
    std::wstring path;     // normalised (see CTargetPath); empty with show-all and no path
    std::wstring problem;  // why it cannot be a target: nothing is scanned or acted on
    bool showAll = false;
    // Where the path leads when a link on its way (a symbolic link or junction) takes it
    // elsewhere; empty when it leads to itself.
    std::wstring finalPath;
    // The other names of a file that has several (hard links), normalised.
    std::vector<std::wstring> linkNames;
    CDriveTable drives;  // read once for the whole command
    CScanTarget forms;   // what found names are compared with
};

// With show-all the path plays no part in the scan. services names the links.
CTarget MakeTarget(const std::wstring& written, bool showAll, const CSystemServices& services);

}  // namespace tarnwick
