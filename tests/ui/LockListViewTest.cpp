#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <set>

#include "FindLocks.h"
#include "LockListView.h"
#include "TestSupport.h"

using namespace tarnwick;
using namespace tarnwick::test;

// Records what is freed while watching, to see that every way a row leaves frees it.
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

// A plain window hosting the lock list view, as the main dialog does.
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
        const HWND list =
            ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_OWNERDATA, 10,
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

CLockItem Lock(const wchar_t* process, DWORD pid, const wchar_t* owner, const wchar_t* path,
               LockKind kind = LockKind::Handle)
{
    CLockItem item;
    item.processName = process;
    item.pid = pid;
    item.owner = owner;
    item.lockPath = path;
    item.kind = kind;
    item.imagePath = std::wstring(L"C:\\Programs\\") + process;
    return item;
}

CListRows Rows(std::vector<CLockItem> locks)
{
    CListRows rows;
    for (CLockItem& lock : locks)
        rows.push_back(MakeListRow(std::move(lock)));
    return rows;
}

std::vector<std::wstring> Column(HWND list, int column) { return ListViewColumn(list, column); }

void Select(HWND list, const std::vector<int>& rows)
{
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    for (int row : rows)
        ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
}

std::vector<std::wstring> PathsOf(const std::vector<const CLockItem*>& locks)
{
    std::vector<std::wstring> paths;
    for (const CLockItem* lock : locks)
        paths.push_back(lock->lockPath);
    return paths;
}

class LockListViewTest : public ::testing::Test {
protected:
    HostWindow host;
    HWND list() const { return host.view.hwnd(); }
};

}  // namespace

TEST_F(LockListViewTest, SetUpWithSixColumnsTheExtendedStylesAndTheDefaultIcon)
{
    EXPECT_EQ(ListView_GetExtendedListViewStyle(list()), DWORD(0x10420));
    EXPECT_EQ(::GetWindowLongPtrW(list(), GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
    const wchar_t* headers[] = {L"Process", L"PID", L"Owner", L"Path", L"Kind", L"Services"};
    const int widths[] = {120, 60, 100, 530, 70, 120};
    for (int i = 0; i < 6; ++i) {
        wchar_t text[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = text;
        column.cchTextMax = 64;
        ASSERT_TRUE(ListView_GetColumn(list(), i, &column));
        EXPECT_STREQ(text, headers[i]);
        EXPECT_EQ(column.cx, widths[i]);
    }
    EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(list())), 6);
    EXPECT_EQ(ImageList_GetImageCount(host.view.images()), 1);
    EXPECT_EQ(ListView_GetImageList(list(), LVSIL_SMALL), host.view.images());
}

TEST_F(LockListViewTest, RowsGiveTheirTextsIconKindAndTipOnDemand)
{
    CLockItem serviceHost = Lock(L"editor.exe", 4242, L"alice", L"C:\\Data\\a.txt", LockKind::Module);
    serviceHost.services = {{L"Spooler", L"Print Spooler"}, {L"Indexer", L"Search Indexer"}};
    host.view.ShowRows(Rows({Lock(L"viewer.exe", 17, L"bob", L"C:\\Data\\b.txt", LockKind::Mapping), serviceHost}));

    EXPECT_EQ(ListView_GetItemCount(list()), 2);
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"editor.exe", L"viewer.exe"})) << "by process name";
    EXPECT_EQ(ListViewCellText(list(), 0, 1), L"4242");
    EXPECT_EQ(ListViewCellText(list(), 0, 2), L"alice");
    EXPECT_EQ(ListViewCellText(list(), 0, 3), L"C:\\Data\\a.txt");
    EXPECT_EQ(Column(list(), 4), (std::vector<std::wstring>{L"module", L"mapping"}));
    EXPECT_EQ(Column(list(), 5), (std::vector<std::wstring>{L"Spooler, Indexer", L""}))
        << "the services' own names; most rows host none";
    EXPECT_EQ(host.view.ShownRow(1).lock.lockPath, L"C:\\Data\\b.txt");

    LVITEMW image = {};
    image.mask = LVIF_IMAGE;
    image.iItem = 1;
    ASSERT_TRUE(ListView_GetItem(list(), &image));
    EXPECT_EQ(image.iImage, host.view.ShownRow(1).iconIndex);

    wchar_t tip[16] = {};
    NMLVGETINFOTIPW request = {};
    request.hdr = {list(), UINT_PTR(kListId), UINT(LVN_GETINFOTIPW)};
    request.pszText = tip;
    request.cchTextMax = 16;
    request.iItem = 1;
    ::SendMessageW(host.window(), WM_NOTIFY, kListId, reinterpret_cast<LPARAM>(&request));
    EXPECT_STREQ(tip, L"C:\\Programs\\vie") << "the image path, cut to the tip buffer";
    request.iItem = 2;
    tip[0] = L'\0';
    ::SendMessageW(host.window(), WM_NOTIFY, kListId, reinterpret_cast<LPARAM>(&request));
    EXPECT_STREQ(tip, L"") << "no row, no tip";
}

namespace {

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

std::vector<void*> ShowNumberedRows(CLockListView& view, int count)
{
    std::vector<CLockItem> locks;
    for (int i = 0; i < count; ++i)
        locks.push_back(Lock(L"p.exe", DWORD(100 + i), L"u", L"C:\\x"));
    view.ShowRows(Rows(std::move(locks)));
    std::vector<void*> records;
    for (int i = 0; i < view.RowCount(); ++i)
        records.push_back(const_cast<CListRow*>(&view.ShownRow(i)));
    return records;
}

}  // namespace

TEST_F(LockListViewTest, EveryWayARowLeavesFreesItsRecord)
{
    const std::vector<void*> records = ShowNumberedRows(host.view, 5);
    const CLockItem* last = &host.view.ShownRow(4).lock;
    std::set<void*> freed = FreedDuring([&] { host.view.RemoveLocks({last}); });
    EXPECT_EQ(freed.count(records.back()), 1u) << "a removed row's record was not freed";
    EXPECT_EQ(host.view.RowCount(), 4);
    freed = FreedDuring([&] { host.view.ClearList(); });
    EXPECT_EQ(host.view.RowCount(), 0);
    EXPECT_EQ(ListView_GetItemCount(list()), 0);
    for (std::size_t i = 0; i + 1 < records.size(); ++i)
        EXPECT_EQ(freed.count(records[i]), 1u) << "a cleared row's record was not freed";

    auto other = std::make_unique<HostWindow>();
    const std::vector<void*> left = ShowNumberedRows(other->view, 3);
    freed = FreedDuring([&] { other.reset(); });
    for (void* record : left)
        EXPECT_EQ(freed.count(record), 1u) << "rows left when the window goes are freed with it";
}

TEST_F(LockListViewTest, HeaderClicksSortAsTheUserExpects)
{
    CLockItem beta = Lock(L"beta.exe", 30, L"carol", L"C:\\b"), alpha = Lock(L"Alpha.exe", 10, L"alice", L"C:\\c");
    beta.services = {{L"zeta", L""}};
    alpha.services = {{L"Eta", L""}};
    host.view.ShowRows(Rows({beta, alpha, Lock(L"gamma.exe", 20, L"Bob", L"C:\\a")}));
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"Alpha.exe", L"beta.exe", L"gamma.exe"}));

    ClickHeader(list(), 2);  // another column keeps the direction
    EXPECT_EQ(Column(list(), 2), (std::vector<std::wstring>{L"alice", L"Bob", L"carol"}));
    ClickHeader(list(), 2);  // the same column again reverses
    EXPECT_EQ(Column(list(), 2), (std::vector<std::wstring>{L"carol", L"Bob", L"alice"}));
    ClickHeader(list(), 1);  // and another keeps the reversed direction
    EXPECT_EQ(Column(list(), 1), (std::vector<std::wstring>{L"30", L"20", L"10"}));
    ClickHeader(list(), kColumnServices);
    EXPECT_EQ(Column(list(), kColumnServices), (std::vector<std::wstring>{L"zeta", L"Eta", L""}));

    host.view.SortList(0, true);  // a scan ends ascending by process
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"Alpha.exe", L"beta.exe", L"gamma.exe"}));
    ClickHeader(list(), 0);  // so the first click on "Process" sorts descending
    EXPECT_EQ(Column(list(), 0), (std::vector<std::wstring>{L"gamma.exe", L"beta.exe", L"Alpha.exe"}));
}

TEST(CompareRows, TextsAsWcsicmpComparesThemPidsWithoutSignKindsByTheirNames)
{
    // Letters fold to lower case as _wcsicmp folds them: "_" (0x5F) sorts before "a", not after "A".
    std::vector<std::wstring> names = {L"b.exe", L"_x.exe", L"A.exe", L"\u00c9t\u00e9.exe", L"a.exe", L"Zed.exe"};
    std::vector<CLockItem> locks;
    for (const std::wstring& name : names)
        locks.push_back(Lock(name.c_str(), 1, name.c_str(), name.c_str()));
    for (int column : {kColumnProcess, kColumnOwner, kColumnPath}) {
        CListRows rows = Rows(locks);
        SortRows(rows, column, true);
        std::vector<std::wstring> sorted;
        for (const auto& row : rows)
            sorted.push_back(row->lock.processName);
        std::vector<std::wstring> expected = names;
        std::stable_sort(expected.begin(), expected.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        });
        EXPECT_EQ(sorted, expected) << "column " << column;
    }

    const auto a = MakeListRow(Lock(L"a", 5, L"u", L"C:\\a", LockKind::Module));
    const auto b = MakeListRow(Lock(L"b", 5, L"u", L"C:\\b", LockKind::Mapping));
    EXPECT_EQ(CompareRows(*a, *b, kColumnPid), 0) << "equal ids keep their rows' order";
    EXPECT_GT(CompareRows(*a, *b, kColumnKind), 0) << "\"mapping\" before \"module\"";
    EXPECT_EQ(CompareRows(*a, *b, 9), 0);
    const auto high = MakeListRow(Lock(L"h", 0x80000000u, L"u", L"C:\\h"));
    EXPECT_LT(CompareRows(*a, *high, kColumnPid), 0) << "compared without sign";

    CListRows equal = Rows({Lock(L"same", 7, L"u", L"C:\\1"), Lock(L"same", 7, L"u", L"C:\\2")});
    SortRows(equal, kColumnPid, false);
    EXPECT_EQ(equal[0]->lock.lockPath, L"C:\\1") << "descending keeps equal rows in their order too";
}

TEST_F(LockListViewTest, FilterKeepsRowsWhoseProcessOrPathHoldsTheTextCaseBlindAndTheSelectionWithThem)
{
    host.view.ShowRows(Rows({Lock(L"alpha.exe", 1, L"carl", L"C:\\Caf\u00e9\\menu.txt"),
                             Lock(L"beta.exe", 2, L"anna", L"C:\\Data\\b.txt"),
                             Lock(L"gamma.exe", 3, L"bob", L"C:\\Data\\CARL.txt")}));
    Select(list(), {0, 2});  // alpha and gamma

    host.view.SetFilter(L"CAF\u00c9");
    EXPECT_EQ(Column(list(), 0), std::vector<std::wstring>{L"alpha.exe"}) << "the path, every letter's case folded";
    EXPECT_EQ(PathsOf(host.view.SelectedLocks()), std::vector<std::wstring>{L"C:\\Caf\u00e9\\menu.txt"})
        << "a row the filter hides is no longer selected";
    host.view.SetFilter(L"carl");
    EXPECT_EQ(Column(list(), 0), std::vector<std::wstring>{L"gamma.exe"}) << "the owner is not searched";
    host.view.SetFilter(L"ETA.E");
    EXPECT_EQ(Column(list(), 0), std::vector<std::wstring>{L"beta.exe"}) << "the process name";
    EXPECT_TRUE(host.view.SelectedLocks().empty());
    EXPECT_EQ(host.view.TotalRows(), 3u);

    host.view.SetFilter(L"");
    EXPECT_EQ(host.view.RowCount(), 3);
    Select(list(), {0, 2});
    ClickHeader(list(), 0);  // descending: gamma, beta, alpha
    EXPECT_EQ(host.view.SelectedRows(), (std::vector<int>{0, 2})) << "the selection moves with its rows";
    EXPECT_EQ(PathsOf(host.view.SelectedLocks()),
              (std::vector<std::wstring>{L"C:\\Data\\CARL.txt", L"C:\\Caf\u00e9\\menu.txt"}));
    host.view.SetFilter(L"data");
    EXPECT_EQ(PathsOf(host.view.SelectedLocks()), std::vector<std::wstring>{L"C:\\Data\\CARL.txt"});
    EXPECT_EQ(PathsOf(host.view.ShownLocks()), (std::vector<std::wstring>{L"C:\\Data\\CARL.txt", L"C:\\Data\\b.txt"}));

    host.view.RemoveLocks({&host.view.ShownRow(1).lock});
    EXPECT_EQ(host.view.TotalRows(), 2u);
    EXPECT_EQ(PathsOf(host.view.SelectedLocks()), std::vector<std::wstring>{L"C:\\Data\\CARL.txt"})
        << "removing another row keeps the selection";
}

TEST(RowText, TabSeparatedWithAHeaderAndPathsOnceEach)
{
    CLockItem host = Lock(L"b.exe", 7, L"", L"C:\\y.dll", LockKind::Module);
    host.services = {{L"Spooler", L""}, {L"Indexer", L""}};
    const CListRows rows = Rows(
        {Lock(L"a.exe", 12, L"ann", L"C:\\x.txt"), Lock(L"a.exe", 12, L"ann", L"C:\\x.txt", LockKind::Mapping), host});
    const std::vector<const CListRow*> all = {rows[0].get(), rows[1].get(), rows[2].get()};
    EXPECT_EQ(RowsAsText(all),
              L"Process\tPID\tOwner\tPath\tKind\tServices\r\n"
              L"a.exe\t12\tann\tC:\\x.txt\thandle\t\r\n"
              L"a.exe\t12\tann\tC:\\x.txt\tmapping\t\r\n"
              L"b.exe\t7\t\tC:\\y.dll\tmodule\tSpooler, Indexer\r\n");
    EXPECT_EQ(PathsAsText(all), L"C:\\x.txt\r\nC:\\y.dll");
    EXPECT_EQ(RowsAsText({}), L"Process\tPID\tOwner\tPath\tKind\tServices\r\n");
}

TEST_F(LockListViewTest, ColumnsFitTheWidestTextsOfManyRowsAsTheControlWouldAndTheirHeaders)
{
    std::vector<CLockItem> locks;
    for (int i = 0; i < 3000; ++i)
        locks.push_back(Lock(L"p.exe", DWORD(i), L"u", (L"C:\\f\\" + std::to_wstring(i) + L".txt").c_str()));
    const std::wstring longest = L"C:\\a much longer folder name than the others\\and a file.txt";
    locks.insert(locks.begin() + 1234, Lock(L"a-program-with-a-long-name.exe", 99999, L"DOMAIN\\someone",
                                            longest.c_str(), LockKind::Mapping));
    host.view.ShowRows(Rows(std::move(locks)));

    std::vector<int> fitted;
    for (int i = 0; i < 5; ++i)
        fitted.push_back(ListView_GetColumnWidth(list(), i));
    for (int i = 0; i < 5; ++i) {
        ListView_SetColumnWidth(list(), i, LVSCW_AUTOSIZE);  // the control measures every row
        EXPECT_GE(fitted[std::size_t(i)], ListView_GetColumnWidth(list(), i)) << "column " << i;
    }
    EXPECT_GE(fitted[kColumnPath], ListView_GetStringWidth(list(), longest.c_str()));
    EXPECT_GE(fitted[kColumnOwner], ListView_GetStringWidth(list(), L"Owner")) << "the header stays whole";
    SaveWindowPicture(host.window(), L"lock-list-fitted.bmp");
}

class ScanIntoView : public LockListViewTest {
protected:
    void SetUp() override { ASSERT_EQ(BindSystemServices(services), L""); }
    CSystemServices services;
    CScanProgress progress;
    TempDir dir{L"tarnwick-view"};
};

TEST_F(ScanIntoView, ScanGivesOneRowPerLockWithTheProcessIconAndKind)
{
    const std::wstring program = dir.Sub(L"holder.exe");
    ASSERT_TRUE(::CopyFileW(BinPath(L"holder.exe").c_str(), program.c_str(), FALSE));
    FixtureProcess fixture(program, {L"open", dir.Sub(L"a.txt"), L"open", dir.Sub(L"b.txt")});

    const int imagesBefore = ImageList_GetImageCount(host.view.images());
    CScanOutcome outcome = ScanForRows(services, MakeTarget(dir.path(), false, services), progress);
    EXPECT_EQ(outcome.message, L"");
    host.view.ShowRows(std::move(outcome.rows), outcome.icons);

    ASSERT_EQ(host.view.RowCount(), 3) << "two files and the program itself";
    EXPECT_EQ(ImageList_GetImageCount(host.view.images()), imagesBefore + 1) << "one icon for the process";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ListViewCellText(list(), i, 0), L"holder.exe");
        EXPECT_EQ(ListViewCellText(list(), i, 1), std::to_wstring(fixture.pid()));
        EXPECT_EQ(host.view.ShownRow(i).iconIndex, imagesBefore);
        EXPECT_EQ(host.view.ShownRow(i).lock.imagePath, program);
    }
    std::vector<std::wstring> kinds = Column(list(), kColumnKind);
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<std::wstring>{L"handle", L"handle", L"module"}));
    EXPECT_GE(ListView_GetColumnWidth(list(), kColumnOwner), ListView_GetStringWidth(list(), L"Owner"))
        << "a short owner must not cut the column's header";
    EXPECT_EQ(progress.handlesDone.load(), progress.fileHandles.load());
    EXPECT_GT(progress.processes.load(), 0u);
    EXPECT_EQ(ScanProgressText(progress).rfind(L"Scanning: ", 0), 0u);
    SaveWindowPicture(host.window(), L"lock-list.bmp");
}

TEST_F(ScanIntoView, ScanWithoutLocksSaysSoAndFitsTheHeaders)
{
    const std::wstring asPassed = dir.path() + L"\\.\\";  // quoted exactly as given
    CScanOutcome outcome = ScanForRows(services, MakeTarget(asPassed, false, services), progress);
    EXPECT_EQ(outcome.message,
              L"No locks detected on \"" + asPassed + L"\".\nI can still attempt to delete, move, or rename the path.");
    host.view.ShowRows(std::move(outcome.rows));
    EXPECT_EQ(host.view.RowCount(), 0);
    const wchar_t* headers[] = {L"Process", L"PID", L"Owner", L"Path", L"Kind"};
    for (int i = 0; i < 5; ++i) {
        const int textWidth = ListView_GetStringWidth(list(), headers[i]);
        EXPECT_GE(ListView_GetColumnWidth(list(), i), textWidth);
        EXPECT_LT(ListView_GetColumnWidth(list(), i), textWidth + 40) << "fitted to the header";
    }
}

TEST_F(ScanIntoView, AStoppedScanGivesNothingNotEvenAMessage)
{
    FixtureProcess fixture(BinPath(L"holder.exe"), {L"open", dir.Sub(L"a.txt")});
    progress.cancel = true;
    const CScanOutcome outcome = ScanForRows(services, MakeTarget(dir.path(), false, services), progress);
    EXPECT_TRUE(outcome.rows.empty());
    EXPECT_EQ(outcome.message, L"");
    EXPECT_FALSE(IsScanAsked(MakeTarget(L"", false, services))) << "no path and no show-all: no scan at all";
    EXPECT_TRUE(IsScanAsked(MakeTarget(L"", true, services)));
}

TEST(ScanProgressText, SaysHowFarEachPartHasComeOnceItsTotalIsKnown)
{
    CScanProgress progress;
    EXPECT_EQ(ScanProgressText(progress), L"Scanning...");
    wchar_t separator[8] = L",";
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator, 8);
    const std::wstring sep = separator;
    progress.fileHandles = 18088;
    progress.handlesDone = 3412;
    EXPECT_EQ(ScanProgressText(progress), L"Scanning: 3" + sep + L"412 of 18" + sep + L"088 file handles");
    progress.processes = 40;
    progress.processesDone = 12;
    EXPECT_EQ(ScanProgressText(progress),
              L"Scanning: 3" + sep + L"412 of 18" + sep + L"088 file handles, 12 of 40 processes");
    progress.fileHandles = 1234567;
    progress.handlesDone = 999;
    EXPECT_EQ(ScanProgressText(progress),
              L"Scanning: 999 of 1" + sep + L"234" + sep + L"567 file handles, 12 of 40 processes");
}
