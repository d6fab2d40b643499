#include "TarnwickDlg.h"

#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "AboutDlg.h"
#include "Clipboard.h"
#include "FreeSoftwareDlg.h"
#include "MessageBox.h"
#include "RemovalSequence.h"
#include "Text.h"
#include "TextFit.h"

namespace tarnwick {

static_assert(IDS_APP_TITLE == kAppTitleStringId, "the message boxes' caption is the program's title");

namespace {

constexpr UINT kBrowseFolders = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;        // 0x41
constexpr UINT kBrowseFilesAndFolders = kBrowseFolders | BIF_BROWSEINCLUDEFILES;  // 0x4041
// "Unlock All" in show-all mode and ending a critical process or a service host.
constexpr UINT kDangerousQuestion = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;  // 0x134
// Questions whose No is the safe answer: deleting at the next boot, stopping services, ending
// the programs that did not close.
constexpr UINT kLossQuestion = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
constexpr int kShrinkWidth = 480;
constexpr int kShrinkHeight = 150;

// Posted by the workers when a scan or a version check is over; the scan's id in wParam.
constexpr UINT kScanOver = WM_APP + 1;
constexpr UINT kVersionCheckOver = WM_APP + 2;
constexpr UINT_PTR kProgressTimer = 1;
constexpr UINT kProgressIntervalMs = 100;

// The commands that act on rows: they wait while a scan runs.
constexpr int kRowCommands[] = {IDC_UNLOCK, IDC_UNLOCK_ALL, IDC_TERMINATE, IDC_CLOSE_PROGRAM};

// Enter where the user typed acts on what was typed; "Unlock All" stays the default elsewhere.
const CShortcut kShortcuts[] = {
    {VK_F5, false, 0, IDC_REFRESH},
    {VK_RETURN, false, IDC_PATH, IDC_REFRESH},
    {VK_RETURN, false, IDC_FILTER, IDM_FOCUS_LIST},
    {'A', true, IDC_LOCK_LIST, IDM_SELECT_ALL},
    {'C', true, IDC_LOCK_LIST, IDM_COPY_ROWS},
    {VK_DELETE, false, IDC_LOCK_LIST, IDC_UNLOCK},
};

// The menu of the selected rows; a null text is a separator.
struct CMenuEntry {
    int command;
    const wchar_t* text;
};
const CMenuEntry kRowMenu[] = {
    {IDC_UNLOCK, L"&Unlock"},
    {IDC_TERMINATE, L"&Terminate"},
    {0, nullptr},
    {IDM_OPEN_FOLDER, L"Open Containing &Folder"},
    {0, nullptr},
    {IDM_COPY_PATHS, L"Copy &Path"},
    {IDM_COPY_ROWS, L"&Copy"},
};

struct Anchor {
    int id;
    double moveX, moveY, growX, growY;
};
// Registration order matters only for the layout batch; the "Path" label stays in place. The
// warning also widens with the window, so that it can rewrap when the window is made narrower.
constexpr Anchor kAnchors[] = {
    {IDCANCEL, 100, 100, 0, 0},        {IDC_UNLOCK, 0, 100, 0, 0},         {IDC_UNLOCK_ALL, 0, 100, 0, 0},
    {IDC_TERMINATE, 0, 100, 0, 0},     {IDC_CLOSE_PROGRAM, 0, 100, 0, 0},  {IDC_SHOW_ALL, 0, 100, 0, 0},
    {IDC_REFRESH, 0, 100, 0, 0},       {IDC_BROWSE_PATH, 100, 0, 0, 0},    {IDC_CANCEL_SCAN, 100, 0, 0, 0},
    {IDC_SCAN_PROGRESS, 0, 0, 100, 0}, {IDC_BROWSE_MOVE_TO, 0, 100, 0, 0}, {IDC_RENAME_TO, 0, 100, 0, 0},
    {IDC_MOVE_TO, 0, 100, 0, 0},       {IDC_PATH, 0, 0, 100, 0},           {IDC_DO_NOTHING, 0, 100, 0, 0},
    {IDC_DELETE, 0, 100, 0, 0},        {IDC_RENAME, 0, 100, 0, 0},         {IDC_MOVE, 0, 100, 0, 0},
    {IDC_AFTER_GROUP, 0, 100, 0, 0},   {IDC_WARNING, 0, 100, 100, 0},      {IDC_LOCK_LIST, 0, 0, 100, 100},
};

std::wstring LoadResourceString(UINT id)
{
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(CDialogEx::ResourceInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::wstring(text, length) : std::wstring();
}

// The shell's folder browser, opened at start; the chosen path, or empty when the user
// cancelled or chose something without a file-system path.
std::wstring BrowseForFolder(HWND owner, const wchar_t* title, UINT flags, const std::wstring& start)
{
    BROWSEINFOW browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = title;
    browse.ulFlags = flags;
    browse.lpfn = CTarnwickDlg::BrowseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(start.c_str());
    const UniqueItemIdList chosen(::SHBrowseForFolderW(&browse));
    wchar_t path[MAX_PATH] = {};
    if (!chosen || !::SHGetPathFromIDListW(chosen.get(), path))
        return {};
    return path;
}

// How the main window answers the removal's questions and shows its outcomes: message
// boxes owned by the window, paths shown as messages show them, and the rows whose lock is
// gone taken out of the list before the after-action.
class CDialogPrompts : public IRemovalPrompts {
public:
    CDialogPrompts(HWND owner, CLockListView& list, std::vector<std::wstring> paths, const CRemovalRequest& request)
        : owner_(owner), list_(list), paths_(std::move(paths)), request_(request)
    {
    }
    void Tell(const std::wstring& text) override { Show(text, MB_OK); }
    bool ConfirmDeleteAtBoot(const std::wstring& question) override { return Show(question, kLossQuestion) == IDYES; }
    void ShellDeleteRunning(bool running) override { ::EnableWindow(owner_, !running); }
    bool ConfirmUnlockAll(const std::wstring& question) override { return Show(question, kDangerousQuestion) == IDYES; }
    Consent ConfirmEndCritical(const CLockItem&, const std::wstring& question) override
    {
        return Show(question, kDangerousQuestion) == IDYES ? Consent::Yes : Consent::No;
    }
    Consent ConfirmStopServices(const CLockItem&, const CServiceStop&, const std::wstring& question) override
    {
        return Show(question, kLossQuestion) == IDYES ? Consent::Yes : Consent::No;
    }
    bool ConfirmEndUnclosed(const std::vector<const CLockItem*>&, const std::wstring& question) override
    {
        return Show(question, kLossQuestion) == IDYES;
    }
    bool Wait(HANDLE object, DWORD ms) override { return WaitAnswering(owner_, object, ms); }
    // Close: every owner's outcome; Terminate: the processes that had not gone in time.
    void Report(const CRowOutcome& outcome) override
    {
        if (request_.command == RemovalCommand::Close)
            outcomes_ += CloseOutcomeText(outcome, request_.closeTimeoutMs) + L"\n";
        const bool lingering =
            request_.command == RemovalCommand::Terminate && outcome.ended == EndResult::Ended && !outcome.gone;
        if (outcome.thenEnded || lingering)
            outcomes_ += EndOutcomeText(outcome) + L"\n";
    }
    bool LocksRemoved(const std::vector<const CLockItem*>& removed) override
    {
        list_.RemoveLocks(removed);
        if (!outcomes_.empty())
            Show(outcomes_.substr(0, outcomes_.size() - 1), MB_OK);
        return true;
    }

private:
    int Show(const std::wstring& text, UINT flags)
    {
        return AppMessageBox(owner_, WithPathsForMessage(text, paths_), flags);
    }

    HWND owner_;
    CLockListView& list_;
    std::vector<std::wstring> paths_;
    const CRemovalRequest& request_;
    std::wstring outcomes_;  // one line each
};

}  // namespace

CTarnwickDlg::CTarnwickDlg(std::wstring commandLinePath, CPlatformLoader loader, std::wstring productPage)
    : CResizingDialog(IDD_TARNWICK_DIALOG, nullptr),
      m_hIcon(::LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      commandLinePath_(std::move(commandLinePath)),
      loader_(loader),
      productPage_(std::move(productPage))
{
    m_bShowSizeGrip = true;
}

void CTarnwickDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Control(IDC_LOCK_LIST, m_listLocks);
    dx.Control(IDC_RENAME_TO, m_editRenameTo);
    dx.Control(IDC_DO_NOTHING, m_radioDoNothing);
    dx.Control(IDC_DELETE, m_radioDelete);
    dx.Control(IDC_RENAME, m_radioRenameTo);
    dx.Control(IDC_MOVE, m_radioMoveTo);
    dx.Text(IDC_RENAME_TO, m_strRenameTo);
    dx.Text(IDC_MOVE_TO, m_strMoveTo);
    dx.Text(IDC_PATH, m_strPath);
    dx.Check(IDC_SHOW_ALL, m_bShowAllLocks);
    dx.Control(IDC_UNLOCK_ALL, m_btnUnlockAll);
    dx.Control(IDC_FILTER, filter_);
}

BOOL CTarnwickDlg::OnInitDialog()
{
    CResizingDialog::OnInitDialog();
    AppendSystemMenuEntries();
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    const std::wstring fatal = BindSystemServices(m_services, loader_);
    if (!fatal.empty())
        ExitWithFatalMessage(fatal);

    m_listLocks.Setup(ResourceInstance());
    m_strPath = commandLinePath_;
    UpdateData(false);
    ::CheckRadioButton(hwnd(), IDC_DO_NOTHING, IDC_MOVE, IDC_DO_NOTHING);
    ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnUnlockAll.hwnd()), TRUE);
    AnchorControls();
    MakeRoomForText(IDC_WARNING);
    for (const CButton* radio : {&m_radioDoNothing, &m_radioDelete, &m_radioRenameTo, &m_radioMoveTo})
        StepRadioButtonsWithArrows(radio->hwnd());
    LayOut();  // for a window the system made smaller than its template
    shortcuts_ = std::make_unique<CDialogShortcuts>(
        hwnd(), std::vector<CShortcut>(std::begin(kShortcuts), std::end(kShortcuts)));
    // Centred before the notice and the first scan, whose messages centre on the window.
    CenterWindow();
    ShowFreeSoftwareNotice();
    OnRefresh();
    return FALSE;  // the focus is set
}

void CTarnwickDlg::AppendSystemMenuEntries()
{
    const std::wstring about = LoadResourceString(IDS_ABOUTBOX);
    const HMENU menu = ::GetSystemMenu(hwnd(), FALSE);
    if (about.empty() || !menu)
        return;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_CHECK_VERSION, L"Check for new version");
}

void CTarnwickDlg::AnchorControls()
{
    for (const Anchor& a : kAnchors)
        AnchorControl(a.id, a.moveX, a.moveY, a.growX, a.growY);
}

// The rows arrive sorted by process name, ascending, when the scan is over.
void CTarnwickDlg::FindLocks(const std::wstring& path)
{
    RetireScan();
    listTarget_ = MakeTarget(path, m_bShowAllLocks != 0, m_services);
    if (!IsScanAsked(listTarget_))
        return;
    scan_ = std::make_unique<CScanJob>(m_services, listTarget_, hwnd(), kScanOver, ++lastScanId_);
    ShowScanUnderWay(true);
}

void CTarnwickDlg::RetireScan()
{
    if (!scan_)
        return;
    scan_->Cancel();
    retiredScans_.push_back(std::move(scan_));
    ShowScanUnderWay(false);
}

void CTarnwickDlg::ShowScanUnderWay(bool underWay)
{
    const HWND list = m_listLocks.hwnd();
    const auto isRowCommand = [this](HWND window) {
        return std::any_of(std::begin(kRowCommands), std::end(kRowCommands),
                           [&](int id) { return window && GetDlgItem(id) == window; });
    };
    // A disabled button cannot keep the focus: it waits on the list and comes back after.
    if (underWay && isRowCommand(::GetFocus())) {
        focusBeforeScan_ = ::GetFocus();
        ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    }
    for (int id : kRowCommands)
        ::EnableWindow(GetDlgItem(id), !underWay);
    ::ShowWindow(GetDlgItem(IDC_CANCEL_SCAN), underWay ? SW_SHOW : SW_HIDE);
    if (underWay) {
        ::SetTimer(hwnd(), kProgressTimer, kProgressIntervalMs, nullptr);
        OnScanProgress();
        return;
    }
    ::KillTimer(hwnd(), kProgressTimer);
    ::SetDlgItemTextW(hwnd(), IDC_SCAN_PROGRESS, L"");
    if (focusBeforeScan_ && ::GetFocus() == list)
        ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focusBeforeScan_), TRUE);
    focusBeforeScan_ = nullptr;
}

void CTarnwickDlg::OnScanProgress()
{
    if (scan_) {
        CWnd progress;
        progress.Attach(GetDlgItem(IDC_SCAN_PROGRESS));
        progress.SetText(scan_->ProgressText());
    }
}

void CTarnwickDlg::OnScanOver(WPARAM id)
{
    if (!scan_ || scan_->id() != id) {
        // A stopped scan has ended: it goes, and nothing of it is shown.
        retiredScans_.erase(std::remove_if(retiredScans_.begin(), retiredScans_.end(),
                                           [id](const auto& retired) { return retired->id() == id; }),
                            retiredScans_.end());
        return;
    }
    const std::unique_ptr<CScanJob> over = std::move(scan_);
    ShowScanUnderWay(false);
    CScanOutcome outcome = over->TakeOutcome();
    m_listLocks.ShowRows(std::move(outcome.rows), outcome.icons);
    if (!outcome.message.empty())
        AppMessageBox(hwnd(), outcome.message, outcome.messageFlags);
}

// Nothing of the scan stays, not even its path: the commands have no scanned target to act on.
void CTarnwickDlg::OnCancelScan()
{
    RetireScan();
    listTarget_ = CTarget{};
}

void CTarnwickDlg::OnRefresh()
{
    UpdateData(true);
    ClearList();
    FindLocks(m_strPath);
}

int CALLBACK CTarnwickDlg::BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED && data)
        ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

void CTarnwickDlg::OnBrowsePath()
{
    UpdateData(true);
    const std::wstring path =
        BrowseForFolder(hwnd(), L"Please select a file or folder to unlock", kBrowseFilesAndFolders, m_strPath);
    if (path.empty())
        return;
    m_strPath = path;
    UpdateData(false);
    UpdateData(true);
    ClearList();
    FindLocks(m_strPath);
}

void CTarnwickDlg::OnRenameToChange() { ::CheckRadioButton(hwnd(), IDC_DO_NOTHING, IDC_MOVE, IDC_RENAME); }

void CTarnwickDlg::OnGetMinMaxInfo(MINMAXINFO* info)
{
    const SIZE opened = minimumWindowSize(), layout = LayoutMinimumWindowSize();
    info->ptMinTrackSize.x = std::max<LONG>({info->ptMinTrackSize.x, opened.cx - kShrinkWidth, layout.cx});
    info->ptMinTrackSize.y = std::max<LONG>({info->ptMinTrackSize.y, opened.cy - kShrinkHeight, layout.cy});
}

void CTarnwickDlg::OnPaint()
{
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(hwnd(), &paint);
    ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(hwnd(), &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(hwnd(), &paint);
}

// The workers stop before the window goes; the rows go with it.
void CTarnwickDlg::OnDestroy()
{
    shortcuts_.reset();
    scan_.reset();
    retiredScans_.clear();
    versionCheck_.reset();
    ClearList();
}

bool CTarnwickDlg::OnSysCommand(UINT id)
{
    switch (id & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(hwnd());
        about.DoModal();
        return true;
    }
    case IDM_CHECK_VERSION: OnCheckForNewVersion(); return true;
    default: return false;
    }
}

// One check at a time; the download runs off the window's thread.
void CTarnwickDlg::OnCheckForNewVersion()
{
    if (!versionCheck_)
        versionCheck_ = std::make_unique<CVersionCheckJob>(hwnd(), kVersionCheckOver, productPage_);
}

void CTarnwickDlg::OnVersionCheckOver()
{
    const std::unique_ptr<CVersionCheckJob> over = std::move(versionCheck_);
    if (over)
        ShowVersionVerdict(hwnd(), over->TakeResult());
}

void CTarnwickDlg::OnUnlock()
{
    if (ValidateAfterAction())
        UnlockRows(false);
}

void CTarnwickDlg::OnUnlockAll()
{
    if (ValidateAfterAction())
        UnlockRows(true);
}

void CTarnwickDlg::UnlockRows(bool all)
{
    CompleteAction(Remove(all ? RemovalCommand::UnlockAll : RemovalCommand::Unlock));
}

void CTarnwickDlg::OnTerminate()
{
    if (ValidateAfterAction())
        CompleteAction(Remove(RemovalCommand::Terminate));
}

void CTarnwickDlg::OnCloseProgram()
{
    if (ValidateAfterAction())
        CompleteAction(Remove(RemovalCommand::Close));
}

// Reads the fields; the command acts on the target of the rows shown, never on a path typed
// but not scanned. False, with the reason shown, when the chosen after-action cannot be carried
// out, before any lock is touched; false without a word while a scan runs, whose rows are not there yet.
bool CTarnwickDlg::ValidateAfterAction()
{
    if (ScanUnderWay())
        return false;
    UpdateData(true);
    commandTarget_ = listTarget_;
    const std::wstring problem = AfterActionProblem(commandTarget_, ChosenRequest());
    if (problem.empty())
        return true;
    AppMessageBox(hwnd(), WithPathsForMessage(problem, {commandTarget_.path, commandTarget_.written}),
                  MB_OK | MB_ICONEXCLAMATION);
    return false;
}

CRemovalOutcome CTarnwickDlg::Remove(RemovalCommand command)
{
    CRemovalRequest request;
    request.command = command;
    request.rows = command == RemovalCommand::UnlockAll ? m_listLocks.ShownLocks() : m_listLocks.SelectedLocks();
    request.rowsListed = m_listLocks.TotalRows() > 0;
    request.afterAction = ChosenRequest();
    CDialogPrompts prompts(hwnd(), m_listLocks, MessagePaths(), request);
    return RunRemoval(m_services, commandTarget_, request, prompts);
}

std::vector<std::wstring> CTarnwickDlg::MessagePaths() const
{
    return {commandTarget_.path, RenamedPath(commandTarget_.path, m_strRenameTo),
            MoveDestination(commandTarget_, ChosenRequest())};
}

AfterAction CTarnwickDlg::ChosenAfterAction() const
{
    if (m_radioDoNothing.GetCheck() == BST_CHECKED)
        return AfterAction::DoNothing;
    if (m_radioDelete.GetCheck() == BST_CHECKED)
        return AfterAction::Delete;
    if (m_radioRenameTo.GetCheck() == BST_CHECKED)
        return AfterAction::RenameTo;
    if (m_radioMoveTo.GetCheck() == BST_CHECKED)
        return AfterAction::MoveTo;
    return AfterAction::DoNothing;
}

CAfterActionRequest CTarnwickDlg::ChosenRequest() const
{
    return MakeAfterActionRequest(commandTarget_, ChosenAfterAction(), m_strRenameTo, m_strMoveTo);
}

// The rows whose lock is gone have left the list; the path's outcome is shown, and the window
// ends when no row is left.
void CTarnwickDlg::CompleteAction(const CRemovalOutcome& outcome)
{
    if (outcome.stopped != RemovalStop::None)
        return;
    if (outcome.action.result == ActionResult::Failed) {
        AppMessageBox(hwnd(), WithPathsForMessage(outcome.action.text, MessagePaths()), MB_OK | MB_ICONEXCLAMATION);
        return;  // the dialog stays, so that the user sees where the path still is
    }
    if (m_listLocks.TotalRows() == 0)
        EndDialog(IDOK);
}

void CTarnwickDlg::OnBrowseMoveTo()
{
    UpdateData(true);
    const std::wstring folder =
        BrowseForFolder(hwnd(), L"Please select a folder to move to", kBrowseFolders, ParentFolder(m_strPath));
    if (folder.empty())
        return;
    m_strMoveTo = folder;
    UpdateData(false);
    ::CheckRadioButton(hwnd(), IDC_DO_NOTHING, IDC_MOVE, IDC_MOVE);
}

bool CTarnwickDlg::OnContextMenu(HWND window, POINT at)
{
    const std::vector<int> selected = m_listLocks.SelectedRows();
    if (window != m_listLocks.hwnd() || selected.empty())
        return false;
    if (at.x == -1 && at.y == -1) {  // from the keyboard: beside the first selected row
        RECT row;
        ListView_GetItemRect(window, selected.front(), &row, LVIR_LABEL);
        at = {row.left, row.bottom};
        ::ClientToScreen(window, &at);
    }
    const UniqueMenu menu(::CreatePopupMenu());
    for (const CMenuEntry& entry : kRowMenu)
        ::AppendMenuW(menu.get(), entry.text ? MF_STRING : MF_SEPARATOR, UINT_PTR(entry.command), entry.text);
    const int chosen = ::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr);
    if (chosen)
        OnCommand(BN_CLICKED, chosen, nullptr);
    return true;
}

void CTarnwickDlg::OnCopy(std::wstring (*asText)(const std::vector<const CListRow*>&))
{
    const std::vector<const CListRow*> rows = m_listLocks.SelectedListRows();
    if (!rows.empty() && !CopyTextToClipboard(hwnd(), asText(rows)))
        AppMessageBox(hwnd(), L"Nothing could be put on the clipboard: another program may be holding it.",
                      MB_OK | MB_ICONEXCLAMATION);
}

// Explorer opens the folder of the first selected row with its file selected.
void CTarnwickDlg::OnOpenContainingFolder()
{
    const std::vector<const CListRow*> rows = m_listLocks.SelectedListRows();
    if (rows.empty())
        return;
    const std::wstring& path = rows.front()->lock.lockPath;
    const UniqueItemIdList item(::ILCreateFromPathW(path.c_str()));
    const HRESULT opened = item ? ::SHOpenFolderAndSelectItems(item.get(), 0, nullptr, 0) : E_FAIL;
    if (FAILED(opened))
        AppMessageBox(hwnd(),
                      WithPathsForMessage(
                          L"Unable to open the folder of \"" + path + L"\":\n" + SystemMessage(DWORD(opened)), {path}),
                      MB_OK | MB_ICONEXCLAMATION);
}

void CTarnwickDlg::OnFilterChange() { m_listLocks.SetFilter(filter_.GetText()); }

bool CTarnwickDlg::OnCommand(UINT code, int id, HWND control)
{
    if (id == IDC_RENAME_TO && code == EN_CHANGE) {
        OnRenameToChange();
        return true;
    }
    if (id == IDC_FILTER && code == EN_CHANGE) {
        OnFilterChange();
        return true;
    }
    if (code != BN_CLICKED)
        return CResizingDialog::OnCommand(code, id, control);
    switch (id) {
    case IDC_BROWSE_PATH: OnBrowsePath(); return true;
    case IDC_BROWSE_MOVE_TO: OnBrowseMoveTo(); return true;
    case IDC_UNLOCK: OnUnlock(); return true;
    case IDC_UNLOCK_ALL: OnUnlockAll(); return true;
    case IDC_TERMINATE: OnTerminate(); return true;
    case IDC_CLOSE_PROGRAM: OnCloseProgram(); return true;
    case IDC_SHOW_ALL:
    case IDC_REFRESH: OnRefresh(); return true;
    case IDC_CANCEL_SCAN: OnCancelScan(); return true;
    case IDM_SELECT_ALL: m_listLocks.SelectAll(); return true;
    case IDM_COPY_ROWS: OnCopy(RowsAsText); return true;
    case IDM_COPY_PATHS: OnCopy(PathsAsText); return true;
    case IDM_OPEN_FOLDER: OnOpenContainingFolder(); return true;
    case IDM_FOCUS_LIST:
        ::SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_listLocks.hwnd()), TRUE);
        return true;
    default: return CResizingDialog::OnCommand(code, id, control);
    }
}

std::optional<LRESULT> CTarnwickDlg::OnNotify(const NMHDR& header)
{
    if (const std::optional<LRESULT> answer = m_listLocks.HandleNotify(header))
        return answer;
    return CResizingDialog::OnNotify(header);
}

bool CTarnwickDlg::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_PAINT:
        if (!::IsIconic(hwnd()))
            return false;
        OnPaint();
        return true;
    case WM_QUERYDRAGICON: result = reinterpret_cast<LRESULT>(m_hIcon); return true;
    case WM_DESTROY: OnDestroy(); return false;  // the default handling still runs
    case WM_SYSCOMMAND:
        if (OnSysCommand(UINT(wParam)))
            return true;
        break;
    case WM_CONTEXTMENU:
        if (OnContextMenu(reinterpret_cast<HWND>(wParam), {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}))
            return true;
        break;
    case WM_TIMER:
        if (wParam != kProgressTimer)
            break;
        OnScanProgress();
        return true;
    case kScanOver: OnScanOver(wParam); return true;
    case kVersionCheckOver: OnVersionCheckOver(); return true;
    default: break;
    }
    return CResizingDialog::ProcessMessage(message, wParam, lParam, result);
}

}  // namespace tarnwick
