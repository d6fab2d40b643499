#pragma once
// The report-style list of locks: one row per lock, texts supplied on demand from the
// row, process icons in an image list that lives as long as the view.

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Dialog.h"
#include "LockRecords.h"
#include "ScopedHandle.h"

namespace tarnwick {

enum LockColumn { kColumnProcess = 0, kColumnPid = 1, kColumnOwner = 2, kColumnPath = 3, kColumnServices = 4 };
inline constexpr int kLockColumnCount = 5;

// Orders two rows by a column, for ascending or descending display.
int CompareLockItems(const CLockItem* a, const CLockItem* b, int column, bool ascending);

// One row of the view: the lock, and how the view shows it.
struct CListRow {
    CLockItem lock;
    std::wstring pidText;
    std::wstring servicesText;
    int iconIndex = 0;  // 0: the default process icon; -1: adding the program's icon failed
};

class CLockListView : public CWnd {
public:
    CLockListView() = default;
    CLockListView(const CLockListView&) = delete;
    CLockListView& operator=(const CLockListView&) = delete;

    // Sets up the attached list-view control: report style, extended styles, columns, image
    // list with the default process icon as image 0. resources holds icon 129.
    void Setup(HINSTANCE resources);
    HIMAGELIST images() const { return images_.get(); }

    // Inserts a row for the lock at the top, with its program's icon.
    void InsertRowAtTop(CLockItem lock);
    int RowCount() const;
    CLockItem* RowAt(int index) const;
    const CListRow* ListRowAt(int index) const;
    // Removes one row; its record is freed with it (LVN_DELETEITEM).
    void DeleteRow(int index);
    // The row that carries this lock, or -1.
    int FindRow(const CLockItem* lock) const;
    // Indices of the selected rows, ascending.
    std::vector<int> SelectedRows() const;
    // Empties the view, freeing every row's record with its row.
    void ClearList();
    void SortList(int column, bool forceAscending);
    // Fits the columns to their contents and headers, or to their headers when there are no rows.
    void FitColumns();

    LRESULT OnGetDispInfo(NMLVDISPINFOW* info);
    LRESULT OnGetInfoTip(NMLVGETINFOTIPW* tip);
    LRESULT OnHeaderItemClick(NMHEADERW* header);
    LRESULT OnDeleteItem(const NMLISTVIEW& row);
    // Routes the notifications above, which the view's parent hands on; false for any other.
    std::optional<LRESULT> HandleNotify(const NMHDR& header);

private:
    // The index of the program's icon among the images: 0 when the program has none, -1
    // when adding it failed. Each program's icon is added once.
    int IconIndexOf(const std::wstring& imagePath);

    // Shared with the control, which must not destroy it: icons of every scan stay valid.
    UniqueImageList images_;
    std::unordered_map<std::wstring, int> icons_;
    // The last column sorted and its direction.
    int lastSortColumn_ = -1;
    bool sortAscending_ = true;
};

}  // namespace tarnwick
