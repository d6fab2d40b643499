#include "TarnwickDlg.h"

#include <shlobj.h>

#include <algorithm>

#include "AboutDlg.h"
#include "FindLocks.h"
#include "FreeSoftwareDlg.h"
#include "RemovalSequence.h"
#include "MessageBox.h"
#include "TextFit.h"
#include "VersionCheck.h"

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

struct Anchor {
    int id;
    double moveX, moveY, growX, growY;
};
// Registration order matters only for the layout batch; the "Path" label stays in place. The
// warning also widens with the window, so that it can rewrap when the window is made narrower.
constexpr Anchor kAnchors[] = {
    {IDCANCEL, 100, 100, 0, 0},      {IDC_UNLOCK, 0, 100, 0, 0},        {IDC_UNLOCK_ALL, 0, 100, 0, 0},
    {IDC_TERMINATE, 0, 100, 0, 0},   {IDC_CLOSE_PROGRAM, 0, 100, 0, 0}, {IDC_SHOW_ALL, 0, 100, 0, 0},
    {IDC_REFRESH, 0, 100, 0, 0},     {IDC_BROWSE_PATH, 100, 0, 0, 0},   {IDC_BROWSE_MOVE_TO, 0, 100, 0, 0},
    {IDC_RENAME_TO, 0, 100, 0, 0},   {IDC_MOVE_TO, 0, 100, 0, 0},       {IDC_PATH, 0, 0, 100, 0},
    {IDC_DO_NOTHING, 0, 100, 0, 0},  {IDC_DELETE, 0, 100, 0, 0},        {IDC_RENAME, 0, 100, 0, 0},
    {IDC_MOVE, 0, 100, 0, 0},        {IDC_AFTER_GROUP, 0, 100, 0, 0},   {IDC_WARNING, 0, 100, 100, 0},
    {IDC_LOCK_LIST, 0, 0, 100, 100},
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

// Waits for the object (for the time alone without one) while the window goes on painting
// and answering; it takes no input meanwhile, so that no command starts inside another. True
// when the object was signalled in time.
bool WaitAnswering(HWND window, HANDLE object, DWORD ms)
{
    const bool wasEnabled = !::EnableWindow(window, FALSE);
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    const DWORD objects = object ? 1 : 0;
    DWORD woke = WAIT_TIMEOUT;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        woke = ::MsgWaitForMultipleObjectsEx(objects, &object, now < deadline ? DWORD(deadline - now) : 0, QS_ALLINPUT,
                                             MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + objects)
            break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    if (wasEnabled)
        ::EnableWindow(window, TRUE);
    return object && woke == WAIT_OBJECT_0;
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
        for (const CLockItem* lock : removed) {
            const int row = list_.FindRow(lock);
            if (row != -1)
                list_.DeleteRow(row);
        }
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

CTarnwickDlg::CTarnwickDlg(std::wstring commandLinePath, CPlatformLoader loader)
    : CResizingDialog(IDD_TARNWICK_DIALOG, nullptr),
      m_hIcon(::LoadIconW(ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      commandLinePath_(std::move(commandLinePath)),
      loader_(loader)
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

void CTarnwickDlg::FindLocks(const std::wstring& path)
{
    FindLocksInto(m_listLocks, m_services, MakeTarget(path, m_bShowAllLocks != 0, m_services), hwnd());
}

void CTarnwickDlg::OnRefresh()
{
    UpdateData(true);
    ClearList();
    FindLocks(m_strPath);
    SortList(kColumnProcess, true);
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
    SortList(kColumnProcess, true);
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

void CTarnwickDlg::OnDestroy() { ClearList(); }

bool CTarnwickDlg::OnSysCommand(UINT id)
{
    switch (id & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(hwnd());
        about.DoModal();
        return true;
    }
    case IDM_CHECK_VERSION: CheckForNewVersion(hwnd()); return true;
    default: return false;
    }
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

// Reads the fields and makes the command's target from them; false, with the reason shown,
// when the chosen after-action cannot be carried out, before any lock is touched.
bool CTarnwickDlg::ValidateAfterAction()
{
    UpdateData(true);
    commandTarget_ = MakeTarget(m_strPath, m_bShowAllLocks != 0, m_services);
    const std::wstring problem = AfterActionProblem(commandTarget_, ChosenRequest());
    if (problem.empty())
        return true;
    AppMessageBox(hwnd(), WithPathsForMessage(problem, {commandTarget_.path, m_strPath}), MB_OK | MB_ICONEXCLAMATION);
    return false;
}

CRemovalOutcome CTarnwickDlg::Remove(RemovalCommand command)
{
    CRemovalRequest request;
    request.command = command;
    if (command == RemovalCommand::UnlockAll) {
        for (int i = 0, count = m_listLocks.RowCount(); i < count; ++i)
            request.rows.push_back(m_listLocks.RowAt(i));
    } else {
        for (int i : m_listLocks.SelectedRows())
            request.rows.push_back(m_listLocks.RowAt(i));
    }
    request.rowsListed = m_listLocks.RowCount() > 0;
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
    if (m_listLocks.RowCount() == 0)
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

bool CTarnwickDlg::OnCommand(UINT code, int id, HWND control)
{
    if (id == IDC_RENAME_TO && code == EN_CHANGE) {
        OnRenameToChange();
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
    default: break;
    }
    return CResizingDialog::ProcessMessage(message, wParam, lParam, result);
}

}  // namespace tarnwick
