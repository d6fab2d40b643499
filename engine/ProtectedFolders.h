#pragma once
// The folders no after-action may delete, rename or move: Windows does not survive it, or
// every user loses their files.

#include <string>

#include "TargetPath.h"

namespace tarnwick {

// Why the target may not be deleted, renamed or moved (a drive root, the Windows folder or a
// system folder, a program folder, the program-data folder, the users' folder or a user's
// profile folder itself), by its normalised path or by where a link on its way leads; empty
// when it may. The folders are those the system names, seen through any drive letter that
// stands for a folder or a share.
std::wstring ProtectedFolderProblem(const CTarget& target);

}  // namespace tarnwick
