#pragma once
// The report-style list of locks: one row per lock, texts supplied on demand from the
// row's CLockItem, process icons in an image list that lives as long as the view.

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Dialog.h"
#include "LockRecords.h"
#include "ScopedHandle.h"

namespace tarnwick {

enum LockColumn { kColumnProcess = 0, kColumnPid = 1, kColumnOwner = 2, kColumnPath = 3 };
inline constexpr int kLockColumnCount = 4;

// Orders two rows by a column, for ascending or descending display.
int CompareLockItems(const CLockItem* a, const CLockItem* b, int column, bool ascending);

class CLockListView : public CWnd {
public:
    CLockListView() = default;
    CLockListView(const CLockListView&) = delete;
    CLockListView& operator=(const CLockListView&) = delete;

    // Sets up the attached list-view control: report style, extended styles, columns, image
    // list with the default process icon as image 0. resources holds icon 129.
    void Setup(HINSTANCE resources);
    HIMAGELIST images() const { return images_.get(); }

    // The index of the program's icon among the images (see IconIndexSource).
    int AddProgramIcon(const std::wstring& imagePath);

    // Inserts a row at the top; the row owns item from then on.
    void InsertRowAtTop(std::unique_ptr<CLockItem> item);
    int RowCount() const;
    CLockItem* RowAt(int index) const;
    // Removes one row; its record is freed with it (LVN_DELETEITEM).
    void DeleteRow(int index);
    // The row that carries this record, or -1.
    int FindRow(const CLockItem* item) const;
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
    // Shared with the control, which must not destroy it: icons of every scan stay valid.
    UniqueImageList images_;
};

}  // namespace tarnwick
