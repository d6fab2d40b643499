#pragma once
// What the tests share, by area: files and folders, processes, windows, and the registry.

#include "TestFiles.h"
#include "TestProcesses.h"
#include "TestRegistry.h"
#include "TestWindows.h"

#include "Text.h"

namespace tarnwick::test {

using tarnwick::Utf8ToWide;
using tarnwick::WideToUtf8;

}  // namespace tarnwick::test
