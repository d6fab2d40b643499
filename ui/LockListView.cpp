#include "LockListView.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <unordered_set>

#include "ServiceControl.h"
#include "Text.h"
#include "TextFit.h"
#include "WaitCursor.h"
#include "resource.h"

namespace tarnwick {

namespace {

constexpr DWORD kExtendedStyle = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER;  // 0x10420
// Room beside a cell's text, as the control's own fit leaves it.
constexpr int kCellPadding = 12;
// How many of the longest texts of a column are measured to fit it.
constexpr std::size_t kFitSample = 16;

// Each text is a whole string, so that its view ends where its characters do.
std::wstring_view ProcessText(const CListRow& row) { return row.lock.processName; }
std::wstring_view PidText(const CListRow& row) { return row.pidText; }
std::wstring_view OwnerText(const CListRow& row) { return row.lock.owner; }
std::wstring_view PathText(const CListRow& row) { return row.lock.lockPath; }
std::wstring_view KindText(const CListRow& row) { return KindOf(row.lock); }
std::wstring_view ServicesText(const CListRow& row) { return row.servicesText; }

int ByProcess(const CListRow& a, const CListRow& b) { return a.processKey.compare(b.processKey); }
int ByPid(const CListRow& a, const CListRow& b) { return a.lock.pid < b.lock.pid ? -1 : a.lock.pid > b.lock.pid; }
int ByOwner(const CListRow& a, const CListRow& b) { return a.ownerKey.compare(b.ownerKey); }
int ByPath(const CListRow& a, const CListRow& b) { return a.pathKey.compare(b.pathKey); }
int ByKind(const CListRow& a, const CListRow& b) { return std::wcscmp(KindOf(a.lock), KindOf(b.lock)); }
int ByServices(const CListRow& a, const CListRow& b) { return a.servicesKey.compare(b.servicesKey); }

// The columns in their order: a column is one entry here and one in LockColumn.
struct CColumn {
    const wchar_t* header;
    int width;  // before the first scan fits it
    std::wstring_view (*text)(const CListRow&);
    int (*compare)(const CListRow&, const CListRow&);
};
const CColumn kColumns[] = {
    {L"Process", 120, ProcessText, ByProcess}, {L"PID", 60, PidText, ByPid},
    {L"Owner", 100, OwnerText, ByOwner},       {L"Path", 530, PathText, ByPath},
    {L"Kind", 70, KindText, ByKind},           {L"Services", 120, ServicesText, ByServices},
};
constexpr int kColumnCount = int(std::size(kColumns));

// The text as _wcsicmp compares it, letter by letter.
std::wstring SortKey(const std::wstring& text)
{
    std::wstring key(text.size(), L'\0');
    std::transform(text.begin(), text.end(), key.begin(), [](wchar_t c) { return wchar_t(std::towlower(c)); });
    return key;
}

// The width a header item needs to show its text whole: the text in the header's font, the
// margin the header keeps on each side of it, and the item's frame where no theme draws it.
int HeaderItemWidthNeeded(HWND list, int column)
{
    const HWND header = ListView_GetHeader(list);
    const int margin = int(::SendMessageW(header, HDM_GETBITMAPMARGIN, 0, 0));
    return SingleLineTextWidth(header, kColumns[column].header) + 2 * margin + 2 * ::GetSystemMetrics(SM_CXEDGE);
}

// The texts of the column with the most characters: the widest are among them.
std::vector<std::wstring_view> LongestTexts(const std::vector<CListRow*>& rows, int column)
{
    std::vector<std::wstring_view> longest;
    longest.reserve(rows.size());
    for (const CListRow* row : rows)
        longest.push_back(kColumns[column].text(*row));
    const std::size_t kept = std::min(kFitSample, longest.size());
    std::nth_element(longest.begin(), longest.begin() + kept, longest.end(),
                     [](std::wstring_view a, std::wstring_view b) { return a.size() > b.size(); });
    longest.resize(kept);
    std::sort(longest.begin(), longest.end());
    longest.erase(std::unique(longest.begin(), longest.end()), longest.end());
    return longest;
}

// The width of the widest text in the window's font, measured on one device context.
int WidestText(HWND window, const std::vector<std::wstring_view>& texts)
{
    const CWindowDc dc(window);
    const CSelection font(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::wstring_view text : texts) {
        SIZE size = {};
        ::GetTextExtentPoint32W(dc.get(), text.data(), int(text.size()), &size);
        widest = std::max<int>(widest, size.cx);
    }
    return widest;
}

}  // namespace

CProgramIcons ProgramIconsOf(const CListRows& rows)
{
    CProgramIcons icons;
    for (const auto& row : rows) {
        const std::wstring& program = row->lock.imagePath;
        if (icons.count(program))
            continue;
        SHFILEINFOW info = {};
        ::SHGetFileInfoW(program.c_str(), 0, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON);
        icons.emplace(program, UniqueIcon(info.hIcon));
    }
    return icons;
}

std::unique_ptr<CListRow> MakeListRow(CLockItem lock)
{
    auto row = std::make_unique<CListRow>();
    row->pidText = std::to_wstring(lock.pid);
    row->processKey = SortKey(lock.processName);
    row->ownerKey = SortKey(lock.owner);
    row->pathKey = SortKey(lock.lockPath);
    row->servicesText = ServiceNameList(lock.services);
    row->servicesKey = SortKey(row->servicesText);
    row->processFolded = FoldCase(lock.processName);
    row->pathFolded = FoldCase(lock.lockPath);
    row->lock = std::move(lock);
    return row;
}

int CompareRows(const CListRow& a, const CListRow& b, int column)
{
    return column >= 0 && column < kColumnCount ? kColumns[column].compare(a, b) : 0;
}

void SortRows(CListRows& rows, int column, bool ascending)
{
    // Descending compares the other way round rather than negating, so that rows that compare
    // equal still keep their order.
    const auto before = [column, ascending](const auto& a, const auto& b) {
        return ascending ? CompareRows(*a, *b, column) < 0 : CompareRows(*b, *a, column) < 0;
    };
    if (!std::is_sorted(rows.begin(), rows.end(), before))
        std::stable_sort(rows.begin(), rows.end(), before);
}

bool RowMatches(const CListRow& row, std::wstring_view foldedFilter)
{
    return std::wstring_view(row.processFolded).find(foldedFilter) != std::wstring_view::npos ||
           std::wstring_view(row.pathFolded).find(foldedFilter) != std::wstring_view::npos;
}

std::wstring RowsAsText(const std::vector<const CListRow*>& rows)
{
    std::wstring text;
    for (int i = 0; i < kColumnCount; ++i)
        text += std::wstring(i ? L"\t" : L"") + kColumns[i].header;
    text += L"\r\n";
    for (const CListRow* row : rows) {
        for (int i = 0; i < kColumnCount; ++i)
            text.append(i ? L"\t" : L"").append(kColumns[i].text(*row));
        text += L"\r\n";
    }
    return text;
}

std::wstring PathsAsText(const std::vector<const CListRow*>& rows)
{
    std::wstring text;
    std::unordered_set<std::wstring_view> written;
    for (const CListRow* row : rows) {
        if (!written.insert(row->lock.lockPath).second)
            continue;
        text += (text.empty() ? L"" : L"\r\n") + row->lock.lockPath;
    }
    return text;
}

void CLockListView::Setup(HINSTANCE resources)
{
    const LONG_PTR style = ::GetWindowLongPtrW(hwnd_, GWL_STYLE);
    ::SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~LVS_TYPEMASK) | LVS_REPORT | LVS_SHAREIMAGELISTS);
    ListView_SetExtendedListViewStyleEx(hwnd_, ~0u, kExtendedStyle);
    for (int i = 0; i < kColumnCount; ++i) {
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

int CLockListView::IconIndexOf(const std::wstring& imagePath, const CProgramIcons& icons)
{
    if (const auto known = icons_.find(imagePath); known != icons_.end())
        return known->second;
    const auto found = icons.find(imagePath);
    const int index =
        found != icons.end() && found->second ? ::ImageList_ReplaceIcon(images_.get(), -1, found->second.get()) : 0;
    icons_.emplace(imagePath, index);
    return index;
}

void CLockListView::ShowRows(CListRows rows, const CProgramIcons& icons)
{
    const CListRow* previous = nullptr;
    for (const auto& row : rows) {
        // A process's rows come together: its icon is looked up once for them.
        const bool sameProgram = previous && previous->lock.imagePath == row->lock.imagePath;
        row->iconIndex = sameProgram ? previous->iconIndex : IconIndexOf(row->lock.imagePath, icons);
        previous = row.get();
    }
    rows_ = std::move(rows);
    SortList(kColumnProcess, true);
    FitColumns();
}

std::vector<int> CLockListView::SelectedRows() const
{
    std::vector<int> rows;
    if (ListView_GetSelectedCount(hwnd_) == UINT(RowCount())) {
        rows.resize(shown_.size());
        for (int i = 0; i < RowCount(); ++i)
            rows[std::size_t(i)] = i;
        return rows;
    }
    for (int i = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); i != -1 && i < RowCount();
         i = ListView_GetNextItem(hwnd_, i, LVNI_SELECTED))
        rows.push_back(i);
    return rows;
}

std::vector<const CListRow*> CLockListView::SelectedListRows() const
{
    std::vector<const CListRow*> rows;
    for (int i : SelectedRows())
        rows.push_back(&ShownRow(i));
    return rows;
}

std::vector<const CLockItem*> CLockListView::SelectedLocks() const
{
    std::vector<const CLockItem*> locks;
    for (const CListRow* row : SelectedListRows())
        locks.push_back(&row->lock);
    return locks;
}

std::vector<const CLockItem*> CLockListView::ShownLocks() const
{
    std::vector<const CLockItem*> locks;
    for (const CListRow* row : shown_)
        locks.push_back(&row->lock);
    return locks;
}

void CLockListView::RemoveLocks(const std::vector<const CLockItem*>& locks)
{
    const std::unordered_set<const CLockItem*> gone(locks.begin(), locks.end());
    std::vector<const CListRow*> selected = SelectedListRows();
    selected.erase(std::remove_if(selected.begin(), selected.end(),
                                  [&](const CListRow* row) { return gone.count(&row->lock) != 0; }),
                   selected.end());
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(), [&](const auto& row) { return gone.count(&row->lock); }),
                rows_.end());
    ShowFiltered(selected);
}

void CLockListView::ClearList()
{
    shown_.clear();
    rows_.clear();
    ShowShownRows({});
}

void CLockListView::SortList(int column, bool forceAscending)
{
    const CWaitCursor wait;
    if (column == lastSortColumn_)
        sortAscending_ = !sortAscending_;
    lastSortColumn_ = column;
    sortAscending_ = sortAscending_ || forceAscending;
    const std::vector<const CListRow*> selected = SelectedListRows();
    SortRows(rows_, column, sortAscending_);
    ShowFiltered(selected);
}

void CLockListView::SetFilter(std::wstring_view typed)
{
    const std::vector<const CListRow*> selected = SelectedListRows();
    filter_ = FoldCase(typed);
    ShowFiltered(selected);
}

void CLockListView::SelectAll() { ListView_SetItemState(hwnd_, -1, LVIS_SELECTED, LVIS_SELECTED); }

void CLockListView::ShowFiltered(const std::vector<const CListRow*>& selected)
{
    shown_.clear();
    shown_.reserve(rows_.size());
    for (const auto& row : rows_) {
        if (RowMatches(*row, filter_))
            shown_.push_back(row.get());
    }
    ShowShownRows(selected);
}

void CLockListView::ShowShownRows(const std::vector<const CListRow*>& selected)
{
    ListView_SetItemState(hwnd_, -1, 0, LVIS_SELECTED);
    ListView_SetItemCountEx(hwnd_, RowCount(), LVSICF_NOSCROLL);
    const std::unordered_set<const CListRow*> chosen(selected.begin(), selected.end());
    std::vector<int> indices;
    for (int i = 0; i < RowCount() && indices.size() < chosen.size(); ++i) {
        if (chosen.count(shown_[std::size_t(i)]))
            indices.push_back(i);
    }
    if (!indices.empty() && indices.size() == shown_.size()) {
        SelectAll();
    } else {
        for (int i : indices)
            ListView_SetItemState(hwnd_, i, LVIS_SELECTED, LVIS_SELECTED);
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

int CLockListView::ColumnWidthNeeded(int column) const
{
    const int beside = kCellPadding + (column == 0 ? ::GetSystemMetrics(SM_CXSMICON) + 4 : 0);
    return std::max(HeaderItemWidthNeeded(hwnd_, column), WidestText(hwnd_, LongestTexts(shown_, column)) + beside);
}

void CLockListView::FitColumns()
{
    for (int i = 0; i < kColumnCount; ++i)
        ListView_SetColumnWidth(hwnd_, i, ColumnWidthNeeded(i));
}

LRESULT CLockListView::OnGetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    if (item.iItem < 0 || item.iItem >= RowCount())
        return 0;
    const CListRow& row = ShownRow(item.iItem);
    if ((item.mask & LVIF_TEXT) && item.iSubItem >= 0 && item.iSubItem < kColumnCount)
        item.pszText = const_cast<wchar_t*>(kColumns[item.iSubItem].text(row).data());
    if (item.mask & LVIF_IMAGE)
        item.iImage = row.iconIndex;
    return 0;
}

LRESULT CLockListView::OnGetInfoTip(NMLVGETINFOTIPW* tip)
{
    if (tip->iItem >= 0 && tip->iItem < RowCount() && tip->pszText && tip->cchTextMax > 0)
        wcsncpy_s(tip->pszText, tip->cchTextMax, ShownRow(tip->iItem).lock.imagePath.c_str(), _TRUNCATE);
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
    if (header.hwndFrom == hwnd_ && header.code == LVN_GETINFOTIPW)
        return OnGetInfoTip(reinterpret_cast<NMLVGETINFOTIPW*>(any));
    if (header.code == HDN_ITEMCLICKW && header.hwndFrom == ListView_GetHeader(hwnd_))
        return OnHeaderItemClick(reinterpret_cast<NMHEADERW*>(any));
    return std::nullopt;
}

}  // namespace tarnwick
