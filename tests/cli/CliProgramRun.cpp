#include "CliProgramRun.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace tarnwick::test {

CliResult RunCliProgram(const std::vector<std::wstring>& args, DWORD timeoutMs)
{
    const ULONGLONG start = ::GetTickCount64();
    const EndedRun run = AwaitRun(StartPiped(BinPath(L"tarnwick-cli.exe"), args, false, true), timeoutMs);
    CliResult result;
    result.code = run.code;
    result.ms = ::GetTickCount64() - start;
    result.rawOut = run.output;
    result.out = Utf8ToWide(run.output);
    result.err = Utf8ToWide(run.error);
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
