// Ids shared by the dialog test script and the dialog tests.
#pragma once
#define IDD_CONTROLS 100
#define IDD_EMPTY 101
#define IDC_NAME 1001
#define IDC_PASSWORD 1002
#define IDC_TWOSTATE 1003
#define IDC_THREESTATE 1004
#define IDC_FIRST 1005
#define IDC_SECOND 1006
#define IDC_THIRD 1007
#define IDC_CHOICE 1008
#define IDC_LIST 1009
#define IDC_FRAME 1010
#define IDC_ASK 1011
#define IDC_NOTES 1012
#define IDC_LABEL 1013
