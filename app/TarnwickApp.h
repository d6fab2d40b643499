#pragma once

#include "App.h"
#include "CommandLineInfo.h"

namespace tarnwick {

class CTarnwickApp : public CWinApp {
public:
    BOOL InitInstance() override;

    CCommandLineInfo m_cmdInfo;
};

}  // namespace tarnwick
