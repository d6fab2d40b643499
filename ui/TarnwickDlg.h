#pragma once
// The main window: the path under examination, the locks on it, what to do with the path
// afterwards, and the commands.

#include <windows.h>

#include <string>

#include "Dialog.h"
#include "LockListView.h"
#include "PathActions.h"
#include "RemovalSequence.h"
#include "ResizingDialog.h"
#include "SystemServices.h"
#include "resource.h"

namespace tarnwick {

enum : UINT { IDM_ABOUTBOX = 0x0010, IDM_CHECK_VERSION = 0x0020 };

class CTarnwickDlg : public CResizingDialog {
public:
    // commandLinePath: the path named on the command line, empty when none.
    explicit CTarnwickDlg(std::wstring commandLinePath, CPlatformLoader loader = {});

    void FindLocks(const std::wstring& path);
    void ClearList() { m_listLocks.ClearList(); }
    void SortList(int column, bool forceAscending) { m_listLocks.SortList(column, forceAscending); }

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
    // Runs a removal command on the chosen rows: the selected ones, or all for "Unlock All".
    CRemovalOutcome Remove(RemovalCommand command);
    // The paths a message about the command's after-action may name.
    std::vector<std::wstring> MessagePaths() const;
    void AppendSystemMenuEntries();
    void AnchorControls();

    std::wstring commandLinePath_;
    CPlatformLoader loader_;
    CTarget commandTarget_;  // the target of the removal command under way
};

}  // namespace tarnwick
