#pragma once
// The extension's fixed identifiers. The CLSID is also written, as text, in both
// registration scripts; the tests check that the two agree.

#include <windows.h>

namespace tarnwick {

// {1119A6B6-4B4F-4F5D-AFBC-3350773BE80C}
inline constexpr CLSID CLSID_ShellExt = {0x1119a6b6, 0x4b4f, 0x4f5d, {0xaf, 0xbc, 0x33, 0x50, 0x77, 0x3b, 0xe8, 0x0c}};

// {3618C7DC-3AAE-461E-8F7E-DEA254E2B93D}
inline constexpr GUID kShellExtAppId = {0x3618c7dc, 0x3aae, 0x461e, {0x8f, 0x7e, 0xde, 0xa2, 0x54, 0xe2, 0xb9, 0x3d}};

}  // namespace tarnwick
