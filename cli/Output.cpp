#include "Output.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include "RemovalSequence.h"
#include "ServiceControl.h"
#include "Text.h"

namespace tarnwick::cli {

namespace {

constexpr wchar_t kColumnGap[] = L"  ";

std::wstring Padded(const std::wstring& text, std::size_t width)
{
    return text + std::wstring(width > text.size() ? width - text.size() : 0, L' ') + kColumnGap;
}

}  // namespace

void SortForDisplay(CLockRows& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const CLockItem* a, const CLockItem* b) {
        if (const int byName = _wcsicmp(a->processName.c_str(), b->processName.c_str()))
            return byName < 0;
        if (a->pid != b->pid)
            return a->pid < b->pid;
        if (a->kind != b->kind)
            return a->kind < b->kind;
        return _wcsicmp(a->lockPath.c_str(), b->lockPath.c_str()) < 0;
    });
}

const wchar_t* NotClosableWhat(const CLockItem& row)
{
    return row.kind == LockKind::Module ? L"a loaded module" : L"a mapped view";
}

const wchar_t* WindowsOf(const CLockItem& row) { return row.hasWindows ? L"yes" : L"no"; }

std::wstring LockTable(const CLockRows& rows)
{
    std::size_t process = 7, pid = 3, owner = 5, kind = 4, services = 8;  // the headers' own widths
    constexpr std::size_t windows = 7;
    for (const CLockItem* row : rows) {
        process = std::max(process, row->processName.size());
        kind = std::max(kind, wcslen(KindOf(*row)));
        pid = std::max(pid, std::to_wstring(row->pid).size());
        owner = std::max(owner, row->owner.size());
        services = std::max(services, ServiceNameList(row->services).size());
    }
    std::wstring table = Padded(L"Process", process) + Padded(L"PID", pid) + Padded(L"Owner", owner) +
                         Padded(L"Kind", kind) + Padded(L"Windows", windows) + Padded(L"Services", services) + L"Path" +
                         kNewline;
    for (const CLockItem* row : rows) {
        table += Padded(row->processName, process) + Padded(std::to_wstring(row->pid), pid) +
                 Padded(row->owner, owner) + Padded(KindOf(*row), kind) + Padded(WindowsOf(*row), windows) +
                 Padded(ServiceNameList(row->services), services) + row->lockPath + kNewline;
    }
    return table;
}

namespace {

std::wstring ServicesJson(const CLockItem& row)
{
    std::wstring json = L"[";
    for (const CHostedService& service : row.services)
        json += (json.size() > 1 ? L", " : L"") + JsonString(service.name);
    return json + L"]";
}

}  // namespace

std::wstring LockJson(const CLockRows& rows)
{
    if (rows.empty())
        return std::wstring(L"[]") + kNewline;
    std::wstring json = std::wstring(L"[") + kNewline;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CLockItem& row = *rows[i];
        const auto valueIf = [&row](LockKind kind) { return row.kind == kind ? std::to_wstring(row.value) : L"null"; };
        json += L"  {\"process\": " + JsonString(row.processName) + L", \"pid\": " + std::to_wstring(row.pid) +
                L", \"owner\": " + JsonString(row.owner) + L", \"kind\": \"" + KindOf(row) + L"\", \"path\": " +
                JsonString(row.lockPath) + L", \"handle\": " + valueIf(LockKind::Handle) + L", \"loadAddress\": " +
                valueIf(LockKind::Module) + L", \"viewAddress\": " + valueIf(LockKind::Mapping) + L", \"imagePath\": " +
                JsonString(row.imagePath) + L", \"services\": " + ServicesJson(row) + L", \"hasWindows\": " +
                (row.hasWindows ? L"true" : L"false") + L"}" + (i + 1 < rows.size() ? L"," : L"") + kNewline;
    }
    return json + L"]" + kNewline;
}

std::wstring JsonString(const std::wstring& text)
{
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        switch (c) {
        case L'"': quoted += L"\\\""; break;
        case L'\\': quoted += L"\\\\"; break;
        case L'\b': quoted += L"\\b"; break;
        case L'\f': quoted += L"\\f"; break;
        case L'\n': quoted += L"\\n"; break;
        case L'\r': quoted += L"\\r"; break;
        case L'\t': quoted += L"\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                wchar_t escape[8];
                std::swprintf(escape, 8, L"\\u%04x", unsigned(c));
                quoted += escape;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + L"\"";
}

std::wstring UnseenJson(ULONG processesRefused, ULONG handlesGivenUp)
{
    return L"{\"processesRefused\": " + std::to_wstring(processesRefused) + L", \"handlesGivenUp\": " +
           std::to_wstring(handlesGivenUp) + L"}" + kNewline;
}

std::wstring Hex(uint64_t value)
{
    wchar_t text[24];
    std::swprintf(text, 24, L"0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::wstring DescribeProcess(const CLockItem& row) { return ProcessText(row); }

std::wstring DescribeLock(const CLockItem& row)
{
    const wchar_t* what = row.kind == LockKind::Handle   ? L"handle "
                          : row.kind == LockKind::Module ? L"module at "
                                                         : L"mapped view at ";
    return DescribeProcess(row) + L", " + what + Hex(row.value) + L": " + row.lockPath;
}

}  // namespace tarnwick::cli
