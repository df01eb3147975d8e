// Ids shared by the framework's dialog test script and its tests.
#pragma once
#define IDD_PERSON 200
#define IDC_NAME 201
#define IDC_AGE 202
#define IDC_MEMBER 203
#define IDC_SMALL 204
#define IDC_MEDIUM 205
#define IDC_LARGE 206
#define IDC_COLOUR 207
#define IDC_ASK 208
#define IDS_QUESTION 209
