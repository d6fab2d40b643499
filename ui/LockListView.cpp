#include "LockListView.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "ServiceControl.h"
#include "TextFit.h"
#include "WaitCursor.h"
#include "resource.h"

namespace tarnwick {

namespace {

constexpr DWORD kExtendedStyle = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER;  // 0x10420

struct ColumnSpec {
    const wchar_t* header;
    int width;
};
constexpr ColumnSpec kColumns[kLockColumnCount] = {
    {L"Process", 120}, {L"PID", 60}, {L"Owner", 100}, {L"Path", 530}, {L"Services", 120}};

int CompareNoCase(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()); }

const CListRow* RowOf(LPARAM data) { return reinterpret_cast<const CListRow*>(data); }

// How a sort hands the direction to the comparison, which the control calls with one value.
struct CSortOrder {
    int column;
    bool ascending;
};

int CALLBACK CompareRows(LPARAM a, LPARAM b, LPARAM order)
{
    const auto& sort = *reinterpret_cast<const CSortOrder*>(order);
    const CListRow *first = RowOf(a), *second = RowOf(b);
    return CompareLockItems(first ? &first->lock : nullptr, second ? &second->lock : nullptr, sort.column,
                            sort.ascending);
}

const std::wstring* ColumnText(const CListRow& row, int column)
{
    switch (column) {
    case kColumnProcess: return &row.lock.processName;
    case kColumnPid: return &row.pidText;
    case kColumnOwner: return &row.lock.owner;
    case kColumnPath: return &row.lock.lockPath;
    case kColumnServices: return &row.servicesText;
    default: return nullptr;
    }
}

// The width a header item needs to show its text whole: the text in the header's font, the
// margin the header keeps on each side of it, and the item's frame where no theme draws it.
int HeaderItemWidthNeeded(HWND list, int column)
{
    const HWND header = ListView_GetHeader(list);
    const int margin = int(::SendMessageW(header, HDM_GETBITMAPMARGIN, 0, 0));
    return SingleLineTextWidth(header, kColumns[column].header) + 2 * margin + 2 * ::GetSystemMetrics(SM_CXEDGE);
}

}  // namespace

int CompareLockItems(const CLockItem* a, const CLockItem* b, int column, bool ascending)
{
    // Missing records are not subject to the direction.
    if (!a)
        return 0;
    if (!b)
        return 1;
    int result = 0;
    switch (column) {
    case kColumnProcess: result = CompareNoCase(a->processName, b->processName); break;
    case kColumnPid: result = a->pid < b->pid ? -1 : 1; break;
    case kColumnOwner: result = CompareNoCase(a->owner, b->owner); break;
    case kColumnPath: result = CompareNoCase(a->lockPath, b->lockPath); break;
    case kColumnServices: result = CompareNoCase(ServiceNameList(a->services), ServiceNameList(b->services)); break;
    default: break;
    }
    return ascending ? result : -result;
}

void CLockListView::Setup(HINSTANCE resources)
{
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    ::SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~LVS_TYPEMASK) | LVS_REPORT | LVS_SHAREIMAGELISTS);
    ListView_SetExtendedListViewStyleEx(hwnd_, ~0u, kExtendedStyle);
    for (int i = 0; i < kLockColumnCount; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].header);
        column.iSubItem = i;
        ListView_InsertColumn(hwnd_, i, &column);
    }
    // Small icons grow with the DPI; a fixed 16 pixels would be tiny beside the text.
    const int iconWidth = ::GetSystemMetrics(SM_CXSMICON), iconHeight = ::GetSystemMetrics(SM_CYSMICON);
    images_.reset(::ImageList_Create(iconWidth, iconHeight, ILC_COLOR32 | ILC_MASK, 1, 0));
    const UniqueIcon defaultIcon(static_cast<HICON>(
        ::LoadImageW(resources, MAKEINTRESOURCEW(IDI_PROCESS), IMAGE_ICON, iconWidth, iconHeight, LR_DEFAULTCOLOR)));
    ::ImageList_ReplaceIcon(images_.get(), -1, defaultIcon.get());
    ListView_SetImageList(hwnd_, images_.get(), LVSIL_SMALL);
}

int CLockListView::IconIndexOf(const std::wstring& imagePath)
{
    if (const auto known = icons_.find(imagePath); known != icons_.end())
        return known->second;
    SHFILEINFOW info = {};
    int index = 0;
    if (::SHGetFileInfoW(imagePath.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON) && info.hIcon) {
        const UniqueIcon icon(info.hIcon);
        index = ::ImageList_ReplaceIcon(images_.get(), -1, icon.get());
    }
    icons_.emplace(imagePath, index);
    return index;
}

void CLockListView::InsertRowAtTop(CLockItem lock)
{
    auto row = std::make_unique<CListRow>();
    row->pidText = std::to_wstring(lock.pid);
    row->servicesText = ServiceNameList(lock.services);
    row->iconIndex = IconIndexOf(lock.imagePath);
    row->lock = std::move(lock);
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = 0;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.iImage = row->iconIndex;
    item.lParam = reinterpret_cast<LPARAM>(row.get());
    if (ListView_InsertItem(hwnd_, &item) != -1)
        (void)row.release();  // the item owns it now
}

int CLockListView::RowCount() const { return ListView_GetItemCount(hwnd_); }

const CListRow* CLockListView::ListRowAt(int index) const
{
    LVITEMW row = {};
    row.mask = LVIF_PARAM;
    row.iItem = index;
    if (!ListView_GetItem(hwnd_, &row))
        return nullptr;
    return RowOf(row.lParam);
}

CLockItem* CLockListView::RowAt(int index) const
{
    const CListRow* row = ListRowAt(index);
    return row ? const_cast<CLockItem*>(&row->lock) : nullptr;
}

void CLockListView::DeleteRow(int index) { ListView_DeleteItem(hwnd_, index); }

int CLockListView::FindRow(const CLockItem* lock) const
{
    for (int i = 0, count = RowCount(); i < count; ++i) {
        if (RowAt(i) == lock)
            return i;
    }
    return -1;
}

std::vector<int> CLockListView::SelectedRows() const
{
    std::vector<int> rows;
    for (int i = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); i != -1;
         i = ListView_GetNextItem(hwnd_, i, LVNI_SELECTED))
        rows.push_back(i);
    return rows;
}

void CLockListView::ClearList() { ListView_DeleteAllItems(hwnd_); }

// The one place a row's record is freed: the control tells of every row it loses, to a
// deletion, to clearing or to its own destruction.
LRESULT CLockListView::OnDeleteItem(const NMLISTVIEW& row)
{
    delete RowOf(row.lParam);
    return 0;
}

void CLockListView::SortList(int column, bool forceAscending)
{
    CWaitCursor wait;
    if (column == lastSortColumn_)
        sortAscending_ = !sortAscending_;
    lastSortColumn_ = column;
    sortAscending_ = sortAscending_ || forceAscending;
    CSortOrder order{column, sortAscending_};
    ListView_SortItems(hwnd_, CompareRows, reinterpret_cast<LPARAM>(&order));
}

void CLockListView::FitColumns()
{
    const bool hasRows = RowCount() > 0;
    for (int i = 0; i < kLockColumnCount; ++i) {
        // Some list views size a header by the list's own measure and cut its text ("Ow..."),
        // so the header's own measure is the floor.
        ListView_SetColumnWidth(hwnd_, i, LVSCW_AUTOSIZE_USEHEADER);
        const int headerWidth = std::max(ListView_GetColumnWidth(hwnd_, i), HeaderItemWidthNeeded(hwnd_, i));
        if (hasRows)
            ListView_SetColumnWidth(hwnd_, i, LVSCW_AUTOSIZE);
        if (!hasRows || ListView_GetColumnWidth(hwnd_, i) < headerWidth)
            ListView_SetColumnWidth(hwnd_, i, headerWidth);
    }
}

LRESULT CLockListView::OnGetDispInfo(NMLVDISPINFOW* info)
{
    const CListRow* row = RowOf(info->item.lParam);
    if (info->item.mask & LVIF_TEXT) {
        const std::wstring* text = row ? ColumnText(*row, info->item.iSubItem) : nullptr;
        if (text)
            info->item.pszText = const_cast<wchar_t*>(text->c_str());
    }
    if ((info->item.mask & LVIF_IMAGE) && row)
        info->item.iImage = row->iconIndex;
    return 0;
}

LRESULT CLockListView::OnGetInfoTip(NMLVGETINFOTIPW* tip)
{
    const CLockItem* row = RowAt(tip->iItem);
    if (row && tip->pszText && tip->cchTextMax > 0)
        wcsncpy_s(tip->pszText, tip->cchTextMax, row->imagePath.c_str(), _TRUNCATE);
    return 0;
}

LRESULT CLockListView::OnHeaderItemClick(NMHEADERW* header)
{
    SortList(header->iItem, false);
    return 0;
}

std::optional<LRESULT> CLockListView::HandleNotify(const NMHDR& header)
{
    // The notifications that ask for texts carry the buffers the answer goes into.
    auto* any = const_cast<NMHDR*>(&header);
    if (header.hwndFrom == hwnd_ && header.code == LVN_GETDISPINFOW)
        return OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(any));
    if (header.hwndFrom == hwnd_ && header.code == LVN_DELETEITEM)
        return OnDeleteItem(reinterpret_cast<const NMLISTVIEW&>(header));
    if (header.hwndFrom == hwnd_ && header.code == LVN_GETINFOTIPW)
        return OnGetInfoTip(reinterpret_cast<NMLVGETINFOTIPW*>(any));
    if (header.code == HDN_ITEMCLICKW && header.hwndFrom == ListView_GetHeader(hwnd_))
        return OnHeaderItemClick(reinterpret_cast<NMHEADERW*>(any));
    return std::nullopt;
}

}  // namespace tarnwick
