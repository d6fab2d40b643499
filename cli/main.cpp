// tarnwick-cli: the lock engine for scripts. Arguments arrive as UTF-16 through wmain, so
// paths in any script keep every character; everything printed is UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "CliRun.h"
#include "Text.h"

namespace {

class CStdConsole : public tarnwick::cli::IConsole {
public:
    void Out(const std::wstring& text) override { Write(STD_OUTPUT_HANDLE, text); }
    void Err(const std::wstring& text) override { Write(STD_ERROR_HANDLE, text); }

private:
    static void Write(DWORD which, const std::wstring& text)
    {
        const std::string bytes = tarnwick::WideToUtf8(text);
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(which), bytes.data(), DWORD(bytes.size()), &written, nullptr);
    }
};

// A console shows the UTF-8 bytes as text only with its output code page set to match; the
// console's own page comes back at the end, as the shell that started us expects it.
class CUtf8ConsolePage {
public:
    CUtf8ConsolePage()
    {
        DWORD mode = 0;
        if (::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) ||
            ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode)) {
            previous_ = ::GetConsoleOutputCP();
            ::SetConsoleOutputCP(CP_UTF8);
        }
    }
    ~CUtf8ConsolePage()
    {
        if (previous_)
            ::SetConsoleOutputCP(previous_);
    }
    CUtf8ConsolePage(const CUtf8ConsolePage&) = delete;
    CUtf8ConsolePage& operator=(const CUtf8ConsolePage&) = delete;

private:
    UINT previous_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    CUtf8ConsolePage page;
    CStdConsole console;
    return tarnwick::cli::RunCli(std::vector<std::wstring>(argv + 1, argv + argc), console);
}
