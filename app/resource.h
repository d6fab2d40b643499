#pragma once
// Resource numbers of the main program.

#define IDR_MAINFRAME 128  // the program's icon
#define IDI_PROCESS 129    // default icon of a process without one
#define IDS_ABOUTBOX 101

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
