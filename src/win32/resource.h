// SPDX-License-Identifier: MIT
// Resource ids, shared by kovra.rc and the C++ side: plain defines only.
#pragma once

#define IDD_SET_COUNT 101
#define IDD_MAIN 102
#define IDD_EDIT_DIALOG 129
#define IDI_MAIN 128
#define IDS_ABOUT_ITEM 101

// SetCount: the failure kinds to count and the counter start values.
#define IDC_COUNT_SMART 1001
#define IDC_COUNT_BLANK 1002
#define IDC_COUNT_READ_PROTECT 1003
#define IDC_COUNT_LDC 1004
#define IDC_COUNT_HW_PROTECT 1005
#define IDC_SUCCESS_START 1006
#define IDC_FAILURE_START 1007
#define IDC_COUNT_ERASE 1010

// EditDialog: the prompt from the template, the value field made at run time.
#define IDC_EDIT_PROMPT -1
#define IDC_EDIT_VALUE 500
