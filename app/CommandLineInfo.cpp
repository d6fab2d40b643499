#include "CommandLineInfo.h"

namespace tarnwick {

CCommandLineInfo ParseCommandLine(const std::vector<std::wstring>& arguments)
{
    CCommandLineInfo info;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool isSwitch = !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
        if (!isSwitch) {
            info.m_strFileName = argument;
            break;
        }
    }
    return info;
}

}  // namespace tarnwick
