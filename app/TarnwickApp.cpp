#include "TarnwickApp.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "TarnwickDlg.h"
#include "com/ComHandles.h"

namespace tarnwick {

namespace {

// The one application object of the program.
CTarnwickApp theApp;

// Declares that the Restart Manager may restart the program, on the same path.
void DeclareRestartSupport(const std::wstring& path)
{
    const std::wstring arguments = path.empty() ? std::wstring() : QuoteCommandLineArgument(path);
    ::RegisterApplicationRestart(arguments.c_str(), 0);
}

}  // namespace

BOOL CTarnwickApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_LINK_CLASS};  // the About box's link
    ::InitCommonControlsEx(&controls);
    // The shell's folder browser and file operations want an apartment on this thread.
    const ComApartment apartment;

    m_cmdInfo = ParseCommandLine(SplitCommandLine(::GetCommandLineW()));
    DeclareRestartSupport(m_cmdInfo.m_strFileName);

    CTarnwickDlg dialog(m_cmdInfo.m_strFileName);
    dialog.DoModal();
    return FALSE;
}

}  // namespace tarnwick
