// CFileActionHandler: the Auto-Backup page's answer to the changes the directory monitor reports under the watched
// drive roots. The filter query (GUI thread) decides which changes concern the backup and maps each changed path to
// its backup copies through the agents that own it; pairing (the monitor's action thread) turns a removal followed
// by an identical addition into a move and a new folder followed by its parent's change into a whole-folder copy;
// each change is then mirrored onto every backup copy with the copy library's single-path operations and written
// to the page's Auto-Backup log, one line per outcome.
//
// Nothing is lost silently: a change whose copy fails is logged as failed (a later successful copy of the same file
// replaces the failure by its success line), a failure still pending when the service stops is logged then, and when
// the monitor reports that changes under a directory were lost (an overflow), the selection under that directory is
// compared with its backup copies again and brought in line.
//
// The page supplies what the handling needs of it through the hooks: the destination drive, the log, the activity
// signal and the refresh of the destination's space. Log lines and activity come from the action thread; the page
// passes them to its own thread. The filter query and the collection of a rescan's places run on the GUI thread,
// reached by the sent WM_USER+1500 (wParam 0 with a record, 1 with a rescan request).
#pragma once

#include "engine/DirectoryMonitor.h"
#include "engine/FileFilter.h"

#include "platform/afx/String.h"
#include "platform/afx/StringList.h"
#include "platform/base/types.h"
#include "platform/fs/changes.h"
#include "platform/ui/commctrl.h"

#include <functional>
#include <list>
#include <mutex>
#include <vector>

class CShellTreeCtrl;

// The message through which the monitor's threads reach the page's GUI thread.
constexpr UINT WM_FILE_ACTION_QUERY = 0x0400 + 1500;
constexpr WPARAM kQueryFilter = 0;
constexpr WPARAM kQueryRescan = 1;

class CFileActionHandler {
public:
    struct Hooks {
        // The destination drive selected on the page, "X:" (empty when none). GUI thread.
        std::function<CString()> destinationDrive;
        // One log line: type 1 information, 2 warning, 4 error; the source file and line of the call.
        std::function<void(int nType, const CString& strText, LPCTSTR lpszFile, int nLine)> log;
        // 1 while a change is being mirrored, 0 after it.
        std::function<void(int nStart)> activity;
        // The destination's free space changed (letter index, A = 0).
        std::function<void(int nLetterIndex)> destSpaceChanged;
    };

    // A place of the selection to compare with its backup copies after lost changes.
    struct RescanPlace {
        CString strSource;
        CStringList targets;
    };
    struct RescanRequest {
        CString strDirectory;
        std::list<RescanPlace> places;
        CString strFilter; // the tree's file-name patterns, as TAB-separated text
    };

    CFileActionHandler(CShellTreeCtrl* pTree, LPCTSTR lpszUserComputer, Hooks hooks);
    ~CFileActionHandler();
    CFileActionHandler(const CFileActionHandler&) = delete;
    CFileActionHandler& operator=(const CFileActionHandler&) = delete;

    // The window that answers WM_FILE_ACTION_QUERY (the page); the monitor's callbacks send to it.
    void SetWindow(HWND hWnd) { m_hWnd = hWnd; }
    // The monitor's callbacks, with this handler as user data.
    static int FilterCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);
    static void ActionCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord);
    // The GUI thread's answer to WM_FILE_ACTION_QUERY.
    LRESULT OnQuery(WPARAM wParam, LPARAM lParam);

    // GUI thread: 1 accepts the record (its targets attached), 0 refuses it.
    int FilterFileAction(FILE_ACTION_RECORD* pRecord);
    // GUI thread: the checked places under a directory, with their backup copies.
    void CollectRescan(RescanRequest& request);

    // Action thread.
    void OnFileAction(FILE_ACTION_RECORD* pRecord);
    int PairFileAction(FILE_ACTION_RECORD*& pRecord);
    void ApplyFileAction(FILE_ACTION_RECORD* pRecord);
    int BackupAddedPath(LPCTSTR lpszSource, CStringList& targets, int bWholeFolder);
    int BackupModifiedPath(LPCTSTR lpszSource, CStringList& targets);
    int RemoveBackupPath(LPCTSTR lpszSource, CStringList& targets);
    int RenameBackupPath(LPCTSTR lpszOldSource, LPCTSTR lpszNewSource, CStringList& oldTargets, CStringList& newTargets,
                         int bWholeFolder);
    int RenameTargets(LPCTSTR lpszOldSource, LPCTSTR lpszNewSource, CStringList& oldTargets, CStringList& newTargets);
    void LogFileResult(int nCode, LPCTSTR lpszPath, UINT nOkId, UINT nFailId);
    // Compares the selection under a directory with its backup copies and mirrors every difference.
    int RescanDirectory(LPCTSTR lpszDirectory);

    // After the monitor has stopped: writes a failure still pending and frees a held record.
    void Finish();

    // Whether the file name of the first path, or of the second when it is not empty, begins with "~".
    static BOOL IsTempFileName(LPCTSTR lpszPath, LPCTSTR lpszOtherPath);
    // Both exist with the same size, creation time and last write time.
    static BOOL IsSameFile(LPCTSTR lpszPathA, LPCTSTR lpszPathB);
    // Whether a path is the folder itself or lies inside it (whole components, case ignored).
    static BOOL IsSameOrInside(const CString& strPath, const CString& strFolder);

private:
    void Log(int nType, const CString& strText, LPCTSTR lpszFile, int nLine);
    void LogFormatted(int nType, UINT nId, LPCTSTR lpszArg1, LPCTSTR lpszArg2, LPCTSTR lpszFile, int nLine);
    void WritePendingError();
    int MirrorTree(const CString& strSource, const CString& strTarget, const CFileFilter& filter);
    void CollectPlaces(HTREEITEM hItem, const CString& strDirectory, RescanRequest& request);
    bool MapTargets(LPCTSTR lpszSource, const CString& strDrive, class CPtrList& agents, CStringList& targets);

    CShellTreeCtrl* m_pTree;
    CString m_strUserComputer;
    Hooks m_hooks;
    HWND m_hWnd = nullptr;

    // Rename memory of the filter query (GUI thread only).
    CString m_strRenamePath;
    int m_nLastAction = 0;

    // Pairing state (action thread only).
    FILE_ACTION_RECORD* m_pHeldRecord = nullptr;
    int m_nPendingCode = 0;
    int m_nPendingKind = -1;
    CString m_strPendingPath;
};
