#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <set>
#include <thread>

#include "FindLocks.h"
#include "LockListView.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

// Records what is freed while watching, to see that clearing the list frees every row.
namespace {
bool g_watchFrees = false;
std::set<void*>* g_freed = nullptr;
}  // namespace

void operator delete(void* p) noexcept
{
    if (g_watchFrees && g_freed) {
        g_watchFrees = false;  // the set's own allocations are not watched
        g_freed->insert(p);
        g_watchFrees = true;
    }
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int kListId = 1003;

// A plain window hosting the lock list view, as the main dialog will.
class HostWindow {
public:
    HostWindow()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TarnwickListHost";
        ::RegisterClassW(&wc);
        window_ = ::CreateWindowExW(0, wc.lpszClassName, L"Lock list", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 400,
                                    nullptr, nullptr, wc.hInstance, this);
        const HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 10,
                                            10, 860, 330, window_, HMENU(INT_PTR(kListId)), wc.hInstance, nullptr);
        view.Attach(list);
        view.Setup(::GetModuleHandleW(nullptr));
    }
    ~HostWindow() { ::DestroyWindow(window_); }

    HWND window() const { return window_; }
    CLockListView view;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE)
            ::SetWindowLongPtrW(window, GWLP_USERDATA,
                                LONG_PTR(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<HostWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_NOTIFY && self) {
            if (const std::optional<LRESULT> answer = self->view.HandleNotify(*reinterpret_cast<NMHDR*>(lParam)))
                return *answer;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
};

std::wstring CellText(HWND list, int row, int column) { return ListViewCellText(list, row, column); }

CLockItem Row(const wchar_t* process, DWORD pid, const wchar_t* owner, const wchar_t* path)
{
    CLockItem item;
    item.processName = process;
    item.pid = pid;
    item.owner = owner;
    item.lockPath = path;
    item.imagePath = std::wstring(L"C:\\Programs\\") + process;
    return item;
}

std::vector<std::wstring> Column(HWND list, int column) { return ListViewColumn(list, column); }

// Clicks a column header as a person would: press and release over it, near its left end, where
// a column that runs past the view's edge is still seen.
void ClickHeader(HWND list, int column)
{
    const HWND header = ListView_GetHeader(list);
    RECT rect;
    Header_GetItemRect(header, column, &rect);
    const LPARAM at = MAKELPARAM(rect.left + 16, (rect.top + rect.bottom) / 2);
    ::SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(header, WM_LBUTTONUP, 0, at);
}

class LockListViewTest : public ::testing::Test {
protected:
    HostWindow host;
    HWND list() const { return host.view.hwnd(); }
};

}  // namespace

TEST_F(LockListViewTest, SetUpWithFiveColumnsTheExtendedStylesAndTheDefaultIcon)
{
    EXPECT_EQ(ListView_GetExtendedListViewStyle(list()), DWORD(0x10420));
    EXPECT_EQ(::GetWindowLongPtrW(list(), GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    const wchar_t* headers[] = {L"Process", L"PID", L"Owner", L"Path", L"Services"};
    const int widths[] = {120, 60, 100, 530, 120};
    EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(list())), 5);
    for (int i = 0; i < 5; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(list(), i, &column));
        EXPECT_STREQ(text, headers[i]);
        EXPECT_EQ(column.cx, widths[i]);
    }
    EXPECT_EQ(ImageList_GetImageCount(host.view.images()), 1);
    EXPECT_EQ(ListView_GetImageList(list(), LVSIL_SMALL), host.view.images());
}

TEST_F(LockListViewTest, RowsGiveTheirTextsIconAndTipOnDemand)
{
    CLockItem serviceHost = Row(L"editor.exe", 4242, L"alice", L"C:\\Data\\a.txt");
    serviceHost.services = {{L"Spooler", L"Print Spooler"}, {L"Indexer", L"Search Indexer"}};
    host.view.InsertRowAtTop(serviceHost);
    host.view.InsertRowAtTop(Row(L"viewer.exe", 17, L"bob", L"C:\\Data\\b.txt"));

    EXPECT_EQ(CellText(list(), 0, 0), L"viewer.exe") << "each new row goes to the top";
    EXPECT_EQ(CellText(list(), 1, 0), L"editor.exe");
    EXPECT_EQ(CellText(list(), 1, 1), L"4242");
    EXPECT_EQ(CellText(list(), 1, 2), L"alice");
    EXPECT_EQ(CellText(list(), 1, 3), L"C:\\Data\\a.txt");
    EXPECT_EQ(CellText(list(), 1, 4), L"Spooler, Indexer") << "the services' own names";
    EXPECT_EQ(CellText(list(), 0, 4), L"") << "most rows host none";
    EXPECT_EQ(host.view.RowAt(1)->lockPath, L"C:\\Data\\a.txt");
    EXPECT_EQ(host.view.FindRow(host.view.RowAt(1)), 1);

    wchar_t tip[16] = {};
    NMLVGETINFOTIPW request = {};
    request.hdr = {list(), UINT_PTR(kListId), UINT(LVN_GETINFOTIPW)};
    request.pszText = tip;
    request.cchTextMax = 16;
    request.iItem = 1;
    ::SendMessageW(host.window(), WM_NOTIFY, kListId, reinterpret_cast<LPARAM>(&request));
    EXPECT_STREQ(tip, L"C:\\Programs\\edi") << "the image path, cut to the tip buffer";
}

namespace {

// The records of the rows put into a view, the first row's first.
std::vector<void*> AddRows(CLockListView& view, int count)
{
    std::vector<void*> records;
    for (int i = 0; i < count; ++i) {
        view.InsertRowAtTop(Row(L"p.exe", DWORD(100 + i), L"u", L"C:\\x"));
        records.insert(records.begin(), const_cast<CListRow*>(view.ListRowAt(0)));
    }
    return records;
}

// What was freed while work ran.
std::set<void*> FreedDuring(const std::function<void()>& work)
{
    std::set<void*> freed;
    g_freed = &freed;
    g_watchFrees = true;
    work();
    g_watchFrees = false;
    g_freed = nullptr;
    return freed;
}

}  // namespace

TEST_F(LockListViewTest, EveryWayARowLeavesFreesItsRecord)
{
    const std::vector<void*> records = AddRows(host.view, 5);
    const int last = int(records.size()) - 1;
    std::set<void*> freed = FreedDuring([&] { host.view.DeleteRow(last); });
    EXPECT_EQ(freed.count(records.back()), 1u) << "a deleted row's record was not freed";
    freed = FreedDuring([&] { host.view.ClearList(); });
    EXPECT_EQ(host.view.RowCount(), 0);
    for (std::size_t i = 0; i + 1 < records.size(); ++i)
        EXPECT_EQ(freed.count(records[i]), 1u) << "a cleared row's record was not freed";

    auto other = std::make_unique<HostWindow>();
    const std::vector<void*> left = AddRows(other->view, 3);
    freed = FreedDuring([&] { other.reset(); });
    for (void* record : left)
        EXPECT_EQ(freed.count(record), 1u) << "rows left when the window goes are freed with it";
}

TEST_F(LockListViewTest, HeaderClicksSortAsTheUserExpects)
{
    CLockItem beta = Row(L"beta.exe", 30, L"carol", L"C:\\b"), alpha = Row(L"Alpha.exe", 10, L"alice", L"C:\\c");
    beta.services = {{L"zeta", L""}};
    alpha.services = {{L"Eta", L""}};
    host.view.InsertRowAtTop(beta);
    host.view.InsertRowAtTop(alpha);
    host.view.InsertRowAtTop(Row(L"gamma.exe", 20, L"Bob", L"C:\\a"));

    host.view.SortList(0, true);  // as every scan ends
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"Alpha.exe", L"beta.exe", L"gamma.exe"}));

    ClickHeader(list(), 2);  // another column keeps the direction
    EXPECT_EQ(Column(list(), 2), (std::vector<std::wstring>{L"alice", L"Bob", L"carol"}));
    ClickHeader(list(), 2);  // the same column again reverses
    EXPECT_EQ(Column(list(), 2), (std::vector<std::wstring>{L"carol", L"Bob", L"alice"}));
    ClickHeader(list(), 1);  // and another keeps the reversed direction
    EXPECT_EQ(Column(list(), 1), (std::vector<std::wstring>{L"30", L"20", L"10"}));
    ClickHeader(list(), 4);
    EXPECT_EQ(Column(list(), 4), (std::vector<std::wstring>{L"zeta", L"Eta", L""}));

    host.view.SortList(0, true);  // a scan ends ascending by process
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"Alpha.exe", L"beta.exe", L"gamma.exe"}));
    ClickHeader(list(), 0);  // so the first click on "Process" sorts descending
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"gamma.exe", L"beta.exe", L"Alpha.exe"}));
}

TEST(CompareLockItems, MissingRecordsAndEqualPids)
{
    CLockItem a, b;
    a.pid = b.pid = 5;
    EXPECT_EQ(CompareLockItems(nullptr, &b, 0, true), 0);
    EXPECT_EQ(CompareLockItems(nullptr, &b, 0, false), 0);
    EXPECT_EQ(CompareLockItems(&a, nullptr, 0, false), 1) << "not subject to the direction";
    EXPECT_EQ(CompareLockItems(&a, &b, 1, true), 1) << "equal ids never compare equal";
    EXPECT_EQ(CompareLockItems(&a, &b, 1, false), -1);
    EXPECT_EQ(CompareLockItems(&a, &b, 7, true), 0);
    a.pid = 0x80000000u;  // compared without sign
    EXPECT_EQ(CompareLockItems(&b, &a, 1, true), -1);
}

class ScanIntoView : public LockListViewTest {
protected:
    void SetUp() override { ASSERT_EQ(BindSystemServices(services), L""); }
    CSystemServices services;
    TempDir dir{L"tarnwick-view"};
};

TEST_F(ScanIntoView, ScanFillsOneRowPerLockWithTheProcessIcon)
{
    const std::wstring program = dir.Sub(L"holder.exe");
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), program.c_str(), FALSE));
    FixtureProcess fixture(program, {L"open", dir.Sub(L"a.txt"), L"open", dir.Sub(L"b.txt")});

    const int imagesBefore = ImageList_GetImageCount(host.view.images());
    FindLocksInto(host.view, services, MakeTarget(dir.path(), false, services), host.window());
    host.view.SortList(0, true);

    ASSERT_EQ(host.view.RowCount(), 3) << "two files and the program itself";
    EXPECT_EQ(ImageList_GetImageCount(host.view.images()), imagesBefore + 1) << "one icon for the process";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CellText(list(), i, 0), L"holder.exe");
        EXPECT_EQ(CellText(list(), i, 1), std::to_wstring(fixture.pid()));
        EXPECT_EQ(host.view.ListRowAt(i)->iconIndex, imagesBefore);
        EXPECT_EQ(host.view.RowAt(i)->imagePath, program);
    }
    EXPECT_GE(ListView_GetColumnWidth(list(), kColumnOwner), ListView_GetStringWidth(list(), L"Owner"))
        << "a short owner must not cut the column's header";
    SaveWindowPicture(host.window(), L"lock-list.bmp");
}

TEST_F(ScanIntoView, ScanWithoutLocksSaysSoAndFitsTheHeaders)
{
    const std::wstring asPassed = dir.path() + L"\\.\\";  // shown exactly as given
    std::wstring shown, caption;
    std::thread person([&] {
        if (const HWND box = WaitForDialogOf(::GetCurrentProcessId())) {
            shown = MessageBoxText(box);
            caption = WindowText(box);
            PressDialogButton(box, IDOK);
        }
    });
    FindLocksInto(host.view, services, MakeTarget(asPassed, false, services), host.window());
    person.join();

    EXPECT_EQ(shown,
              L"No locks detected on \"" + asPassed + L"\".\nI can still attempt to delete, move, or rename the path.");
    EXPECT_EQ(caption, L"Tarnwick");
    EXPECT_EQ(host.view.RowCount(), 0);
    const wchar_t* headers[] = {L"Process", L"PID", L"Owner"};
    for (int i = 0; i < 3; ++i) {
        const int textWidth = ListView_GetStringWidth(list(), headers[i]);
        EXPECT_GE(ListView_GetColumnWidth(list(), i), textWidth);
        EXPECT_LT(ListView_GetColumnWidth(list(), i), textWidth + 40) << "fitted to the header";
    }
}

TEST_F(ScanIntoView, NoPathWithoutShowAllDoesNothing)
{
    host.view.InsertRowAtTop(Row(L"kept.exe", 1, L"u", L"C:\\x"));
    FindLocksInto(host.view, services, MakeTarget(L"", false, services), host.window());
    EXPECT_EQ(WaitForDialogOf(::GetCurrentProcessId(), 300), nullptr) << "no message";
    EXPECT_EQ(host.view.RowCount(), 1);
    EXPECT_EQ(ListView_GetColumnWidth(list(), 3), 530) << "columns untouched";
}
