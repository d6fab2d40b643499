#pragma once
// The main window: the path under examination, the locks on it, what to do with the path
// afterwards, and the commands.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Dialog.h"
#include "FindLocks.h"
#include "LockListView.h"
#include "PathActions.h"
#include "RemovalSequence.h"
#include "ResizingDialog.h"
#include "Shortcuts.h"
#include "SystemServices.h"
#include "VersionCheck.h"
#include "resource.h"

namespace tarnwick {

enum : UINT { IDM_ABOUTBOX = 0x0010, IDM_CHECK_VERSION = 0x0020 };

class CTarnwickDlg : public CResizingDialog {
public:
    // commandLinePath: the path named on the command line, empty when none. productPage: the
    // page beside which the version check finds the manifest.
    explicit CTarnwickDlg(std::wstring commandLinePath, CPlatformLoader loader = {},
                          std::wstring productPage = ProductPage());

    // Starts a scan of path, whose rows replace the list's when it is over; the window
    // answers meanwhile.
    void FindLocks(const std::wstring& path);
    void ClearList() { m_listLocks.ClearList(); }

    // Opens the shell's folder browser at the path given as data.
    static int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data);

protected:
    void DoDataExchange(CDataExchange& dx) override;
    BOOL OnInitDialog() override;
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    bool OnCommand(UINT code, int id, HWND control) override;
    std::optional<LRESULT> OnNotify(const NMHDR& header) override;
    void OnGetMinMaxInfo(MINMAXINFO* info) override;

    void OnPaint();
    void OnRefresh();
    void OnBrowsePath();
    void OnRenameToChange();
    void OnDestroy();
    // About box and version check; false: the default handling.
    bool OnSysCommand(UINT id);

    // Removing locks, and what is then done to the path.
    void OnUnlock();
    void OnUnlockAll();
    void UnlockRows(bool all);
    void OnTerminate();
    void OnCloseProgram();
    bool ValidateAfterAction();
    void CompleteAction(const CRemovalOutcome& outcome);
    void OnBrowseMoveTo();

    HICON m_hIcon;
    CButton m_radioDoNothing, m_radioDelete, m_radioRenameTo, m_radioMoveTo;
    CSystemServices m_services;
    CLockListView m_listLocks;
    CEdit m_editRenameTo;
    std::wstring m_strRenameTo;
    std::wstring m_strMoveTo;
    std::wstring m_strPath;
    int m_bShowAllLocks = 0;
    CButton m_btnUnlockAll;

private:
    AfterAction ChosenAfterAction() const;
    CAfterActionRequest ChosenRequest() const;
    // Runs a removal command on the chosen rows: the selected ones, or all shown for "Unlock All".
    CRemovalOutcome Remove(RemovalCommand command);
    // The paths a message about the command's after-action may name.
    std::vector<std::wstring> MessagePaths() const;
    void AppendSystemMenuEntries();
    void AnchorControls();

    // The scan under way: its end, its progress, a cancel that keeps nothing of it.
    void OnScanOver(WPARAM id);
    void OnScanProgress();
    void OnCancelScan();
    bool ScanUnderWay() const { return scan_ != nullptr; }
    // Stops the scan under way, if any; what it finds is never shown.
    void RetireScan();
    // While a scan runs the commands that act on rows wait, and Cancel and the progress show.
    void ShowScanUnderWay(bool underWay);

    // The list's conveniences: its menu, copying, opening the folder, the filter.
    bool OnContextMenu(HWND window, POINT at);
    // Puts the selected rows on the clipboard, written as asText writes them.
    void OnCopy(std::wstring (*asText)(const std::vector<const CListRow*>&));
    void OnOpenContainingFolder();
    void OnFilterChange();

    void OnCheckForNewVersion();
    void OnVersionCheckOver();

    std::wstring commandLinePath_;
    CPlatformLoader loader_;
    std::wstring productPage_;
    CEdit filter_;
    CTarget listTarget_;     // the target of the rows shown: what every command acts on
    CTarget commandTarget_;  // the target of the removal command under way
    std::unique_ptr<CScanJob> scan_;
    std::vector<std::unique_ptr<CScanJob>> retiredScans_;  // stopped, not yet ended
    WPARAM lastScanId_ = 0;
    HWND focusBeforeScan_ = nullptr;
    std::unique_ptr<CVersionCheckJob> versionCheck_;
    std::unique_ptr<CDialogShortcuts> shortcuts_;
};

}  // namespace tarnwick
