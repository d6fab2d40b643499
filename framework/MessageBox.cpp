#include "MessageBox.h"

namespace tarnwick {

int AppMessageBox(HWND owner, const std::wstring& text, UINT flags)
{
    return ::MessageBoxW(owner, text.c_str(), kAppCaption, flags);
}

void ExitWithFatalMessage(const std::wstring& text)
{
    AppMessageBox(nullptr, text, MB_OK);
    ::ExitProcess(1);
}

}  // namespace tarnwick
