#include "MessageBox.h"

#include <shlwapi.h>

namespace tarnwick {

namespace {

constexpr UINT kMessagePathChars = 80;

std::wstring ProgramTitle()
{
    const wchar_t* text = nullptr;
    const int length =
        ::LoadStringW(::GetModuleHandleW(nullptr), kAppTitleStringId, reinterpret_cast<LPWSTR>(&text), 0);
    if (length > 0)
        return std::wstring(text, length);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathStripPathW(path);
    ::PathRemoveExtensionW(path);
    return path;
}

const std::wstring& AppCaption()
{
    static const std::wstring caption = ProgramTitle();
    return caption;
}

}  // namespace

std::wstring PathForMessage(const std::wstring& path)
{
    if (path.size() <= kMessagePathChars)
        return path;
    wchar_t shortened[kMessagePathChars + 1] = {};
    if (!::PathCompactPathExW(shortened, path.c_str(), kMessagePathChars + 1, 0))
        return path;
    return shortened;
}

std::wstring WithPathsForMessage(std::wstring text, const std::vector<std::wstring>& paths)
{
    for (const std::wstring& path : paths) {
        const std::wstring shown = PathForMessage(path);
        if (path.empty() || shown == path)
            continue;
        for (std::size_t at = text.find(path); at != std::wstring::npos; at = text.find(path, at + shown.size()))
            text.replace(at, path.size(), shown);
    }
    return text;
}

int AppMessageBox(HWND owner, const std::wstring& text, UINT flags)
{
    return ::MessageBoxW(owner, text.c_str(), AppCaption().c_str(), flags);
}

void ExitWithFatalMessage(const std::wstring& text)
{
    AppMessageBox(nullptr, text, MB_OK);
    ::ExitProcess(1);
}

}  // namespace tarnwick
