#include "CliProgramRun.h"

#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"

namespace tarnwick::test {

CliResult RunCliProgram(const std::vector<std::wstring>& args, DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    PipedProcess cli = StartPiped(BinPath(L"tarnwick-cli.exe"), args, false, true);
    CliResult result;
    std::string errBytes;
    std::thread errReader([&] { errBytes = ReadAll(cli.error.get()); });
    result.rawOut = ReadAll(cli.output.get());
    errReader.join();
    if (::WaitForSingleObject(cli.process.get(), timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(cli.process.get(), &result.code);
    else
        ::TerminateProcess(cli.process.get(), 99);
    result.ms = ::GetTickCount64() - start;
    result.out = Utf8ToWide(result.rawOut);
    result.err = Utf8ToWide(errBytes);
    return result;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (std::size_t from = 0, end; (end = text.find(L"\r\n", from)) != std::wstring::npos; from = end + 2)
        lines.push_back(text.substr(from, end - from));
    return lines;
}

JsonValue ParsedJson(const CliResult& run)
{
    JsonValue json;
    std::string error;
    EXPECT_TRUE(ParseJson(run.rawOut, json, error)) << error << "\n" << run.rawOut;
    EXPECT_EQ(json.kind, JsonValue::Kind::Array);
    return json;
}

}  // namespace tarnwick::test
