#pragma once
// The application object: exactly one per program, created during static initialisation;
// the entry point hands control to its InitInstance.

#include <windows.h>

namespace tarnwick {

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    static CWinApp* Current() { return current_; }

    // Per-instance start-up. False: there is no message loop to run; the program ends.
    virtual BOOL InitInstance() { return FALSE; }
    // Runs the program after start-up; returns the process exit code.
    int Run();

    HWND m_pMainWnd = nullptr;

private:
    static CWinApp* current_;
};

}  // namespace tarnwick
