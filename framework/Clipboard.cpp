#include "Clipboard.h"

#include <cstring>

#include "ScopedHandle.h"

namespace tarnwick {

namespace {

// The clipboard, open for as long as the object lives.
class COpenClipboard {
public:
    explicit COpenClipboard(HWND owner) : open_(::OpenClipboard(owner) != FALSE) {}
    ~COpenClipboard()
    {
        if (open_)
            ::CloseClipboard();
    }
    COpenClipboard(const COpenClipboard&) = delete;
    COpenClipboard& operator=(const COpenClipboard&) = delete;
    bool open() const { return open_; }

private:
    bool open_;
};

UniqueGlobalMemory CopyToGlobalMemory(const std::wstring& text)
{
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    UniqueGlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    void* at = memory ? ::GlobalLock(memory.get()) : nullptr;
    if (!at)
        return {};
    std::memcpy(at, text.c_str(), bytes);
    ::GlobalUnlock(memory.get());
    return memory;
}

}  // namespace

bool CopyTextToClipboard(HWND owner, const std::wstring& text)
{
    UniqueGlobalMemory memory = CopyToGlobalMemory(text);
    const COpenClipboard clipboard(owner);
    if (!memory || !clipboard.open() || !::EmptyClipboard() || !::SetClipboardData(CF_UNICODETEXT, memory.get()))
        return false;
    (void)memory.release();  // the clipboard owns it now
    return true;
}

}  // namespace tarnwick
