// Ids shared by the test resource scripts and the tests.
#pragma once
#define IDS_HELLO 100
#define IDS_LONG 101
#define IDS_ESCAPES 102
#define IDS_SECOND_BLOCK 117
#define IDS_FORMAT 118
#define IDS_EMPTY_SLOT 103
#define IDD_SAMPLE 2300
#define IDC_NAME 2310
#define IDM_SAMPLE 4000
#define ID_FILE_EXIT 32771
#define ID_HELP_ABOUT 32772
#define IDD_MENU_SAMPLE 2301
#define IDD_NAMED_MENU_SAMPLE 2302
#define IDD_COMBO_SAMPLE 2303
