// Utilities shared by the main program: the program folder, number and size texts, long-path prefixes, path and
// process tests, closing another program's windows, help topics, the string cipher for a remembered password,
// Windows version tests and names, the Explorer setting for hidden files, and recursive folder deletion.
//
// Every function reports failure by its result (FALSE, 0 or an empty text) and never shows a message or throws.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

// The program's folder: its module file name up to and including the last backslash. FALSE with an empty text
// when the name cannot be read or holds no backslash.
BOOL GetExeFolder(CString& strFolder);

// TRUE on the NT platform with version 6.0 exactly.
BOOL IsWindowsVista();
// TRUE on the NT platform; the first answer serves for the rest of the run.
BOOL IsNTPlatform();
// The name and code of the running Windows version (see the table in Utility.cpp). The buffer first receives
// "unknown Windows version" (cut to nLength - 1 characters) and the code 0; a version without a row keeps those and
// still returns TRUE. FALSE when the version cannot be read.
BOOL GetWindowsVersionName(LPWSTR lpszName, int nLength, int* pnCode);

// The count in decimal with ',' between groups of three digits (1234567 gives "1,234,567").
void FormatThousands(CString& strText, LONGLONG nCount);
// A byte count as a number text with three significant digits and its unit ("Byte", "Bytes", "KB", "MB", "GB"),
// the unit chosen by the number of decimal digits of the count. Counts of twelve digits or more are whole
// gigabytes followed by a blank.
void FormatSizeText(CString& strNumber, CString& strUnit, ULONGLONG nBytes);

// Free bytes of the drive of the root path; 0 when they cannot be read.
ULONGLONG GetDriveFreeSpace(const CString& strRoot);
// Removes "\\?\" from the start of the path; any other text is unchanged.
void RemoveLongPathPrefix(CString& strPath);
// FALSE only when the path is reported as not found (file or path); any other failure counts as existing.
BOOL PathExists(LPCTSTR lpszPath);
// The length of the file in bytes. A file that cannot be opened gives 0 with the open error as the last error
// (ERROR_SUCCESS after a successful read of the length), never an exception.
ULONGLONG GetFileLength(LPCTSTR lpszPath);
// TRUE when no volume uses the drive letter of the index (0 for A: to 25 for Z:); FALSE for any other index.
BOOL IsDriveLetterFree(int nDriveIndex);
// TRUE when Explorer is set to show hidden files ("Hidden" is a REG_DWORD 1 under the user's Explorer "Advanced"
// key).
BOOL IsShowHiddenFiles();
// Deletes everything below the folder (read-only files made writable first) and then the folder itself. Stops at
// the first entry that cannot be deleted and returns FALSE; FALSE too when the folder cannot be listed.
BOOL DeleteFolderTree(LPCTSTR lpszPath);

// The folder browser's callback: on each change of selection the browser's status text shows the selected folder's
// file-system path (empty for an item without one). Always 0.
int BrowseFolderCallback(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

// TRUE when a running process's first module has this base name, compared without regard to case.
BOOL IsProcessRunning(LPCTSTR lpszBaseName);

// Asks every top-level window of the first process of that base name to end its session and closes those that
// agree, then gives the program up to a second to end. TRUE when it no longer runs or none ran; FALSE when it still
// runs or the processes cannot be listed.
BOOL CloseProcessWindows(LPCTSTR lpszBaseName);

// Opens the help file at the page of the dialog (the help file's default page for ids without a page of their own).
// FALSE when no help file is found.
BOOL ShowHelpTopic(UINT nDialogId);

// The work buffer of the string cipher, in bytes; a plain text may hold at most kCipherWorkSize - 1 bytes.
constexpr DWORD kCipherWorkSize = 1000;

// Enciphers a zero-terminated byte string with an RC4 key derived from the MD5 hash of the pass phrase. The result
// is a zero-terminated byte string in lpszOut (room for dwOutSize bytes with the terminator). It is the RC4 output
// itself when that holds no zero byte; otherwise a marker byte and the RC4 output with 0x00 and 0x01 escaped, so that
// no password is lost to a zero byte. FALSE on a CryptoAPI failure, a plain text that does not fit the work buffer,
// or an output that does not fit.
BOOL EncryptString(LPCSTR lpszPlain, LPSTR lpszOut, DWORD dwOutSize, LPCSTR lpszPassPhrase);
// Reverses EncryptString for dwLength bytes of cipher text (either form). FALSE on a CryptoAPI failure, a cipher
// text that is not one of the two forms under this pass phrase, or a result that does not fit dwOutSize.
BOOL DecryptString(LPCSTR lpszCipher, DWORD dwLength, LPSTR lpszOut, DWORD dwOutSize, LPCSTR lpszPassPhrase);
