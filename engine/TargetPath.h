#pragma once
// A path as a person or a script wrote it, made into the one form every front end scans.

#include <string>

namespace tarnwick {

struct CTargetPath {
    // Absolute, with backslashes, long names and no trailing backslash (a drive root keeps
    // its own), written through the folder or share a subst or network drive letter stands
    // for; empty when the written path was empty.
    std::wstring path;
    // Why the written path cannot be a target (a device name); empty when it can.
    std::wstring problem;
};

// Resolves a relative path, "..", trailing dots and spaces as the system does, turns
// forward slashes into backslashes, resolves drive letters that stand for a folder or a
// share, expands 8.3 aliases, and takes a long-path or NT spelling of a drive path or
// share in its plain form.
CTargetPath NormalizeTargetPath(const std::wstring& written);

}  // namespace tarnwick
