#include "App.h"

namespace tarnwick {

CWinApp* CWinApp::current_ = nullptr;

CWinApp::CWinApp() { current_ = this; }

CWinApp::~CWinApp()
{
    if (current_ == this)
        current_ = nullptr;
}

int CWinApp::Run()
{
    if (!InitInstance())
        return 0;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return int(message.wParam);
}

}  // namespace tarnwick

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    tarnwick::CWinApp* app = tarnwick::CWinApp::Current();
    return app ? app->Run() : 1;
}
