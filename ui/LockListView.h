#pragma once
// The report-style list of locks: a virtual list whose rows live in one container of the view,
// which hands the control the texts and icons of the rows it shows, and sorts and filters them.

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Dialog.h"
#include "LockRecords.h"
#include "ScopedHandle.h"

namespace tarnwick {

enum LockColumn {
    kColumnProcess = 0,
    kColumnPid = 1,
    kColumnOwner = 2,
    kColumnPath = 3,
    kColumnKind = 4,
    kColumnServices = 5
};

// One row of the view: the lock, and how the view shows, orders and finds it.
struct CListRow {
    CLockItem lock;
    std::wstring pidText;
    std::wstring servicesText;
    int iconIndex = 0;  // 0: the default process icon; -1: adding the program's icon failed
    // The texts as the columns' order compares them, every letter as _wcsicmp takes it; made
    // once, so that sorting a desktop's locks compares plain strings.
    std::wstring processKey, ownerKey, pathKey, servicesKey;
    // The texts the filter searches, folded as the file system's comparison folds case.
    std::wstring processFolded, pathFolded;
};
using CListRows = std::vector<std::unique_ptr<CListRow>>;
// Programs' small icons by image path; null where a program has none.
using CProgramIcons = std::unordered_map<std::wstring, UniqueIcon>;

// A row for the lock with its texts and keys made; finding its icon is the view's part.
std::unique_ptr<CListRow> MakeListRow(CLockItem lock);

// The icon of each program of the rows, once each. The shell may take its time over them, so
// this runs off the window's thread, in a COM apartment.
CProgramIcons ProgramIconsOf(const CListRows& rows);

// How two rows compare by a column for ascending order: below zero when a comes first.
int CompareRows(const CListRow& a, const CListRow& b, int column);
// Sorts by a column; rows that compare equal keep their order, and rows already in order cost
// one look each.
void SortRows(CListRows& rows, int column, bool ascending);
// Whether a filter keeps the row: its process name or its path contains the text, whose
// FoldCase is given. An empty filter keeps every row.
bool RowMatches(const CListRow& row, std::wstring_view foldedFilter);
// A line of the column headers, then one line per row: the columns' texts split by tabs.
std::wstring RowsAsText(const std::vector<const CListRow*>& rows);
// Each row's path once, in the rows' order, one a line.
std::wstring PathsAsText(const std::vector<const CListRow*>& rows);

class CLockListView : public CWnd {
public:
    CLockListView() = default;
    CLockListView(const CLockListView&) = delete;
    CLockListView& operator=(const CLockListView&) = delete;

    // Sets up the attached list-view control, which was made with LVS_OWNERDATA: report style,
    // extended styles, columns, image list with the default process icon as image 0.
    // resources holds icon 129.
    void Setup(HINSTANCE resources);
    HIMAGELIST images() const { return images_.get(); }

    // Takes the rows of a scan in place of any before, each with its program's icon from icons,
    // sorted by process name, ascending, and filtered as the filter stands; fits the columns.
    void ShowRows(CListRows rows, const CProgramIcons& icons = {});
    // Rows shown (those the filter keeps), and rows held.
    int RowCount() const { return int(shown_.size()); }
    std::size_t TotalRows() const { return rows_.size(); }
    const CListRow& ShownRow(int index) const { return *shown_[std::size_t(index)]; }
    // Indices of the selected rows, ascending.
    std::vector<int> SelectedRows() const;
    std::vector<const CListRow*> SelectedListRows() const;
    std::vector<const CLockItem*> SelectedLocks() const;
    std::vector<const CLockItem*> ShownLocks() const;
    // Takes the rows of these locks out; the other rows keep their selection.
    void RemoveLocks(const std::vector<const CLockItem*>& locks);
    void ClearList();
    void SortList(int column, bool forceAscending);
    // Shows only the rows whose process name or path contains the text, case ignored.
    void SetFilter(std::wstring_view typed);
    void SelectAll();
    // Fits the columns to their headers and to the widest texts of the rows.
    void FitColumns();

    LRESULT OnGetDispInfo(NMLVDISPINFOW* info);
    LRESULT OnGetInfoTip(NMLVGETINFOTIPW* tip);
    LRESULT OnHeaderItemClick(NMHEADERW* header);
    // Routes the notifications above, which the view's parent hands on; nothing for any other.
    std::optional<LRESULT> HandleNotify(const NMHDR& header);

private:
    // The index of the program's icon among the images: 0 when the program has none, -1
    // when adding it failed. Each program's icon is added once.
    int IconIndexOf(const std::wstring& imagePath, const CProgramIcons& icons);
    // Shows the rows the filter keeps, those among them that were selected still selected.
    void ShowFiltered(const std::vector<const CListRow*>& selected);
    // Tells the control how many rows there are, and selects the given ones.
    void ShowShownRows(const std::vector<const CListRow*>& selected);
    int ColumnWidthNeeded(int column) const;

    // Shared with the control, which must not destroy it: icons of every scan stay valid.
    UniqueImageList images_;
    std::unordered_map<std::wstring, int> icons_;
    CListRows rows_;                // in display order
    std::vector<CListRow*> shown_;  // the rows the filter keeps, in display order
    std::wstring filter_;           // folded
    // The last column sorted and its direction.
    int lastSortColumn_ = -1;
    bool sortAscending_ = true;
};

}  // namespace tarnwick
