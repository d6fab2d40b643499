#pragma once
// Resource numbers of the main program's dialogs, icons and strings: used by Resources.rc,
// by the dialogs and by their tests.

// Dialog templates.
#define IDD_ABOUTBOX 100
#define IDD_TARNWICK_DIALOG 102
#define IDD_FREE_SOFTWARE 133

// Icons and strings.
#define IDS_ABOUTBOX 101
#define IDS_APP_TITLE 0xE000  // the caption of the program's message boxes (the framework reads it)
#define IDR_MAINFRAME 128     // the program's icon
#define IDI_PROCESS 129       // default icon of a process without one

// Controls of the main dialog.
#define IDC_PATH 1000
#define IDC_LOCK_LIST 1003
#define IDC_DO_NOTHING 1004
#define IDC_DELETE 1005
#define IDC_RENAME 1006
#define IDC_MOVE 1007
#define IDC_RENAME_TO 1008
#define IDC_MOVE_TO 1009
#define IDC_BROWSE_MOVE_TO 1010
#define IDC_UNLOCK 1011
#define IDC_UNLOCK_ALL 1012
#define IDC_TERMINATE 1013
#define IDC_BROWSE_PATH 1014
#define IDC_SHOW_ALL 1015
#define IDC_AFTER_GROUP 1018
#define IDC_WARNING 1019
#define IDC_REFRESH 1020
#define IDC_CLOSE_PROGRAM 1022
#define IDC_FILTER 1023
#define IDC_SCAN_PROGRESS 1024
#define IDC_CANCEL_SCAN 1025

// Commands of the lock list's keys and menu that no button has.
#define IDM_SELECT_ALL 40001
#define IDM_COPY_ROWS 40002
#define IDM_COPY_PATHS 40003
#define IDM_OPEN_FOLDER 40004
#define IDM_FOCUS_LIST 40005

// Controls of the About box and the notice.
#define IDC_VERSION_TEXT 1016
#define IDC_MAKER_LINK 1017
#define IDC_DO_NOT_SHOW_AGAIN 1021

#ifndef IDC_STATIC
#define IDC_STATIC (-1)  // the controls nobody addresses, and the notice's text
#endif
