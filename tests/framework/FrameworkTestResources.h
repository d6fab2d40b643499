#pragma once
// Resource numbers of the framework tests' own dialog.
#define IDD_FRAMEWORK_TEST 10
#define IDC_THROW 1001
#define IDC_COUNT 1002
#define IDC_FIELD 1003
