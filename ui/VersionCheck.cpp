#include "VersionCheck.h"

#include <shellapi.h>
#include <urlmon.h>

#include <climits>
#include <cwctype>
#include <vector>

#include "MessageBox.h"
#include "ScopedHandle.h"
#include "Text.h"
#include "com/ComHandles.h"

namespace tarnwick {

namespace {

void RemoveAll(std::wstring& text, const std::wstring& tag)
{
    for (std::size_t at = text.find(tag); at != std::wstring::npos; at = text.find(tag, at))
        text.erase(at, tag.size());
}

// One "%d": blanks, an optional sign, at least one digit.
bool ParseInt(const wchar_t*& at, int& value)
{
    while (std::iswspace(*at))
        ++at;
    const bool negative = *at == L'-';
    if (*at == L'-' || *at == L'+')
        ++at;
    if (!std::iswdigit(*at))
        return false;
    long long magnitude = 0;
    for (; std::iswdigit(*at); ++at) {
        magnitude = magnitude * 10 + (*at - L'0');
        if (magnitude > 1LL + INT_MAX)
            return false;
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX)
        return false;
    value = int(signedValue);
    return true;
}

}  // namespace

CFileVersion ReadOwnVersion()
{
    CFileVersion version;
    wchar_t path[MAX_PATH] = {};
    if (!::GetModuleFileNameW(nullptr, path, MAX_PATH))
        return version;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return version;
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (::GetFileVersionInfoW(path, 0, size, block.data()) &&
        ::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) && info &&
        length >= sizeof *info) {
        version.major = HIWORD(info->dwFileVersionMS);
        version.minor = LOWORD(info->dwFileVersionMS);
        version.third = HIWORD(info->dwFileVersionLS);
        version.fourth = LOWORD(info->dwFileVersionLS);
    }
    return version;
}

std::wstring VersionText(const CFileVersion& version)
{
    wchar_t text[64];
    swprintf(text, 64, L"Tarnwick, Version %d.%d.%d.%d", version.major, version.minor, version.third, version.fourth);
    return text;
}

bool ParseVersionNumbers(const std::wstring& text, int (&parts)[4])
{
    const wchar_t* at = text.c_str();
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && *at++ != L'.')
            return false;
        if (!ParseInt(at, parts[i]))
            return false;
    }
    return true;
}

bool IsNewerVersion(const int (&announced)[4], const CFileVersion& own)
{
    const int ours[4] = {own.major, own.minor, own.third, own.fourth};
    for (int i = 0; i < 4; ++i) {
        if (announced[i] != ours[i])
            return announced[i] > ours[i];
    }
    return false;
}

bool IsWebAddress(const std::wstring& address)
{
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        if (StartsWithNoCase(address, scheme) && address.size() > wcslen(scheme))
            return true;
    }
    return false;
}

CManifestReader::CManifestReader(const CFileVersion& own, std::wstring productPage) : own_(own)
{
    verdict_.page = std::move(productPage);
}

void CManifestReader::Feed(const char* bytes, std::size_t count)
{
    pending_.append(bytes, count);
    std::size_t start = 0;
    for (std::size_t end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n', start)) {
        ReadLine(BytesToWide(pending_.substr(start, end - start), CP_ACP));
        start = end + 1;
    }
    pending_.erase(0, start);
}

const CManifestVerdict& CManifestReader::Finish()
{
    if (!pending_.empty())
        ReadLine(BytesToWide(pending_, CP_ACP));
    pending_.clear();
    return verdict_;
}

// A tag test passes capitals, but only lower-case tags are removed: "<VERSION>1.3.5.0" then
// reads as no version at all. Each element must begin its line.
void CManifestReader::ReadLine(std::wstring line)
{
    line = std::wstring(Trim(line));
    if (StartsWithNoCase(line, L"<version>")) {
        RemoveAll(line, L"<version>");
        RemoveAll(line, L"</version>");
        int announced[4];
        if (ParseVersionNumbers(line, announced)) {
            verdict_.versionRead = true;
            verdict_.newer = verdict_.newer || IsNewerVersion(announced, own_);
        }
    }
    // Tested on the line as the version step left it, so "<version>..</version><url>..</url>"
    // names no page.
    if (StartsWithNoCase(line, L"<url>")) {
        RemoveAll(line, L"<url>");
        RemoveAll(line, L"</url>");
        line = std::wstring(Trim(line));
        if (IsWebAddress(line))
            verdict_.page = line;
    }
}

CManifestVerdict ReadManifestFile(const std::wstring& path, const CFileVersion& own, const std::wstring& productPage)
{
    CManifestReader reader(own, productPage);
    const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        CManifestVerdict unread = reader.Finish();
        unread.openError = ::GetLastError();
        return unread;
    }
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        reader.Feed(chunk, read);
    return reader.Finish();
}

std::wstring CheckFailedMessage(const std::wstring& reason)
{
    const std::wstring failed = L"Unable to check for a new version.";
    return reason.empty() ? failed : failed + L"\n" + reason;
}

std::wstring DownloadFailureReason(HRESULT result)
{
    // The download's own codes, which the system's message table may not know.
    struct Reason {
        HRESULT result;
        const wchar_t* text;
    };
    static const Reason kReasons[] = {
        {INET_E_INVALID_URL, L"The address of the version information is not valid."},
        {INET_E_NO_SESSION, L"No connection to the Internet could be made."},
        {INET_E_CANNOT_CONNECT, L"The server could not be reached."},
        {INET_E_RESOURCE_NOT_FOUND, L"The server or the version information could not be found."},
        {INET_E_OBJECT_NOT_FOUND, L"The version information could not be found on the server."},
        {INET_E_DATA_NOT_AVAILABLE, L"The server sent no version information."},
        {INET_E_DOWNLOAD_FAILURE, L"The version information could not be downloaded."},
        {INET_E_CONNECTION_TIMEOUT, L"The server did not answer in time."},
    };
    for (const Reason& reason : kReasons) {
        if (reason.result == result)
            return reason.text;
    }
    return KnownSystemMessage(DWORD(result));
}

std::wstring NothingNewMessage(const CManifestVerdict& verdict)
{
    if (verdict.openError != ERROR_SUCCESS)
        return CheckFailedMessage(SystemMessage(verdict.openError));
    if (!verdict.versionRead)
        return CheckFailedMessage(L"The version information names no version.");
    return L"No new version detected";
}

PageOpener PageOpenerShowing(int show)
{
    return [show](const std::wstring& address) {
        ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, show);
    };
}

CVersionCheckResult FetchVersionVerdict(const std::wstring& productPage)
{
    // The download is a COM client on whatever thread it runs.
    const ComApartment apartment;
    CVersionCheckResult result;
    wchar_t cacheFile[MAX_PATH] = {};
    const std::wstring manifest = ManifestAddress(productPage);
    result.downloaded = ::URLDownloadToCacheFileW(nullptr, manifest.c_str(), cacheFile, MAX_PATH, 0, nullptr);
    if (result.downloaded != S_OK)
        return result;
    result.verdict = ReadManifestFile(cacheFile, ReadOwnVersion(), productPage);
    ::DeleteFileW(cacheFile);
    return result;
}

void ShowVersionVerdict(HWND owner, const CVersionCheckResult& result, const PageOpener& open)
{
    if (result.downloaded != S_OK) {
        AppMessageBox(owner, CheckFailedMessage(DownloadFailureReason(result.downloaded)), MB_OK);
        return;
    }
    if (!result.verdict.newer) {
        AppMessageBox(owner, NothingNewMessage(result.verdict), MB_OK);
        return;
    }
    if (AppMessageBox(owner, L"New version detected.\nWould you like to connect to the website?",
                      MB_YESNO | MB_ICONQUESTION) == IDYES)
        open(result.verdict.page);
}

CVersionCheckJob::CVersionCheckJob(HWND window, UINT message, std::wstring productPage)
    : productPage_(std::move(productPage)),
      task_([this] { result_ = FetchVersionVerdict(productPage_); }, window, message, 0)
{
}

CVersionCheckResult CVersionCheckJob::TakeResult()
{
    task_.Finish();
    return result_;
}

}  // namespace tarnwick
