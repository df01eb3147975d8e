// The main menu's activity counter, which animates the tray icon while backups run: the copy-progress dialog tells
// it of a running job (type 1) and the File Error dialog of an open question (type 2).
#pragma once

#include "platform/base/types.h"

constexpr int kActivityBackup = 1;
constexpr int kActivityFileError = 2;

// Tells the main menu dialog, when it runs, that an activity of the type began or ended.
void TellActivity(int nType, BOOL bOn);
