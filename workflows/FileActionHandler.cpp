#include "workflows/FileActionHandler.h"

#include "copylib/Brannic.h"
#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/CheckTreeCtrl.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/FileActionTargets.h"

#include "platform/afx/PtrList.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/formatmessage.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/ui/message.h"

#include <algorithm>
#include <memory>
#include <set>

IMPLEMENT_DYNAMIC(CFileActionTargets, CObject)

namespace {

constexpr int kLogInformation = 1;
constexpr int kLogError = 4;
// Backup paths are written into buffers of this many characters (the agents' limit for every path they map).
constexpr int kTargetChars = 2048;

CFileActionTargets* TargetsOf(FILE_ACTION_RECORD* pRecord) {
    return pRecord ? dynamic_cast<CFileActionTargets*>(pRecord->pObject) : nullptr;
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 3 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

CString LoadText(UINT nId) {
    CString text;
    text.LoadString(nId);
    return text;
}

int LetterIndexOf(const CString& target) {
    CString path = target;
    if (path.Left(4) == _T("\\\\?\\"))
        path = path.Mid(4);
    if (path.GetLength() < 2 || path[1] != _T(':'))
        return -1;
    return towupper_w(path[0]) - _T('A');
}

// The names in a folder (no "." or ".."), with whether each is a folder.
std::vector<std::pair<CString, bool>> ListFolder(const CString& folder) {
    std::vector<std::pair<CString, bool>> entries;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(WithoutTrailingBackslash(folder) + _T("\\*"), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const CString name(data.cFileName);
        if (name == _T(".") || name == _T(".."))
            continue;
        entries.emplace_back(name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
}

CString Join(const CString& folder, const CString& name) {
    CString path = WithoutTrailingBackslash(folder);
    if (path.Right(1) != _T("\\"))
        path += _T("\\");
    return path + name;
}

} // namespace

CFileActionHandler::CFileActionHandler(CShellTreeCtrl* pTree, LPCTSTR lpszUserComputer, Hooks hooks)
    : m_pTree(pTree), m_strUserComputer(lpszUserComputer ? lpszUserComputer : _T("")), m_hooks(std::move(hooks)) {}

CFileActionHandler::~CFileActionHandler() {
    DestroyFileActionRecord(m_pHeldRecord);
}

// ---- The monitor's callbacks -----------------------------------------------------------------------------------

int CFileActionHandler::FilterCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    auto* self = static_cast<CFileActionHandler*>(lpUserData);
    if (!self || !self->m_hWnd)
        return 0;
    return SendMessageW(self->m_hWnd, WM_FILE_ACTION_QUERY, kQueryFilter, reinterpret_cast<LPARAM>(pRecord)) != 0;
}

void CFileActionHandler::ActionCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    auto* self = static_cast<CFileActionHandler*>(lpUserData);
    if (!self) {
        DestroyFileActionRecord(pRecord);
        return;
    }
    self->OnFileAction(pRecord);
}

LRESULT CFileActionHandler::OnQuery(WPARAM wParam, LPARAM lParam) {
    if (wParam == kQueryRescan) {
        if (auto* request = reinterpret_cast<RescanRequest*>(lParam))
            CollectRescan(*request);
        return 1;
    }
    return FilterFileAction(reinterpret_cast<FILE_ACTION_RECORD*>(lParam));
}

// ---- Filter query (GUI thread) ---------------------------------------------------------------------------------

bool CFileActionHandler::MapTargets(LPCTSTR lpszSource, const CString& strDrive, CPtrList& agents,
                                    CStringList& targets) {
    bool any = false;
    for (POSITION pos = agents.GetHeadPosition(); pos;) {
        auto* pAgent = static_cast<CBackAgent*>(agents.GetNext(pos));
        TCHAR buffer[kTargetChars] = {};
        lstrcpynW(buffer, strDrive, kTargetChars);
        CString source(lpszSource);
        // The whole buffer, in bytes: a path of any length the agents map fits as it does for a copy job.
        if (pAgent->MapBackupPath(nullptr, nullptr, m_strUserComputer, source.GetBuffer(source.GetLength() + 1), buffer,
                                  kTargetChars * static_cast<int>(sizeof(TCHAR))) == kPathMapped) {
            targets.AddTail(buffer);
            any = true;
        }
        source.ReleaseBuffer();
    }
    return any;
}

int CFileActionHandler::FilterFileAction(FILE_ACTION_RECORD* pRecord) {
    if (!pRecord || !m_pTree)
        return 0;
    CBackManager* pManager = CBackManager::Get();
    auto excluded = [&](const CString& path) {
        return path.IsEmpty() || CBackManager::IsExcludedFolder(path) || m_pTree->IsFilteredPath(path);
    };
    if (pRecord->nAction == FILE_ACTION_RENAMED_OLD_NAME) {
        // Remembered whatever it is: the new name decides what the rename means for the backup.
        m_strRenamePath = pRecord->strPath;
        m_nLastAction = FILE_ACTION_RENAMED_OLD_NAME;
        return 0;
    }
    if (pRecord->nAction == FILE_ACTION_RENAMED_NEW_NAME) {
        CString oldPath;
        if (m_nLastAction == FILE_ACTION_RENAMED_OLD_NAME)
            oldPath = m_strRenamePath;
        m_nLastAction = FILE_ACTION_RENAMED_NEW_NAME;
        const bool newKept = !excluded(pRecord->strPath);
        const bool oldKept = !excluded(oldPath);
        if (newKept && oldKept) {
            pRecord->strPath2 = oldPath;
        } else if (newKept) {
            // From a name the backup leaves out (or from nowhere it knows): the file is new to the backup.
            pRecord->nAction = FILE_ACTION_ADDED;
        } else if (oldKept) {
            // To a name the backup leaves out: the backup copy of the old name goes.
            pRecord->nAction = FILE_ACTION_REMOVED;
            pRecord->strPath = oldPath;
        } else {
            return 0;
        }
    } else if (excluded(pRecord->strPath)) {
        return 0;
    }
    if (!pManager)
        return 0;
    CPtrList agentsA, agentsB;
    pManager->CollectAgents(m_pTree, pRecord->strPath, agentsA);
    if (pRecord->nAction == FILE_ACTION_RENAMED_NEW_NAME)
        pManager->CollectAgents(m_pTree, pRecord->strPath2, agentsB);
    else if (agentsA.IsEmpty())
        return 0;
    const CString drive = m_hooks.destinationDrive ? m_hooks.destinationDrive() : CString();
    if (drive.IsEmpty())
        return 0;
    auto targets = std::make_unique<CFileActionTargets>();
    MapTargets(pRecord->strPath, drive, agentsA, targets->m_newTargets);
    if (pRecord->nAction == FILE_ACTION_RENAMED_NEW_NAME)
        MapTargets(pRecord->strPath2, drive, agentsB, targets->m_oldTargets);
    delete pRecord->pObject;
    pRecord->pObject = targets.release();
    return 1;
}

void CFileActionHandler::CollectPlaces(HTREEITEM hItem, const CString& strDirectory, RescanRequest& request) {
    for (HTREEITEM h = m_pTree->GetChildItem(hItem); h; h = m_pTree->GetNextSiblingItem(h)) {
        const UINT state = m_pTree->GetCheckState(h);
        if (state != kStateChecked && state != kStatePartial)
            continue;
        auto* pData = reinterpret_cast<CShellItemData*>(m_pTree->GetItemData(h));
        const CString path = pData ? WithoutTrailingBackslash(pData->m_list.GetPath()) : CString();
        if (path.IsEmpty() || !(IsSameOrInside(path, strDirectory) || IsSameOrInside(strDirectory, path)))
            continue;
        if (state == kStatePartial) {
            CollectPlaces(h, strDirectory, request);
            continue;
        }
        RescanPlace& place = request.places.emplace_back();
        place.strSource = IsSameOrInside(path, strDirectory) ? path : WithoutTrailingBackslash(strDirectory);
        CPtrList agents;
        if (pData->m_pAgent)
            agents.AddTail(pData->m_pAgent);
        const CString drive = m_hooks.destinationDrive ? m_hooks.destinationDrive() : CString();
        if (drive.IsEmpty() || !MapTargets(place.strSource, drive, agents, place.targets))
            request.places.pop_back();
    }
}

void CFileActionHandler::CollectRescan(RescanRequest& request) {
    request.places.clear();
    if (!m_pTree || !m_pTree->GetSafeHwnd())
        return;
    m_pTree->GetFilterText(request.strFilter);
    if (HTREEITEM hRoot = m_pTree->GetRootItem())
        CollectPlaces(hRoot, request.strDirectory, request);
}

// ---- Pairing and applying (action thread) ----------------------------------------------------------------------

void CFileActionHandler::OnFileAction(FILE_ACTION_RECORD* pRecord) {
    if (m_hooks.activity)
        m_hooks.activity(1);
    if (PairFileAction(pRecord) == 1)
        ApplyFileAction(pRecord);
    if (m_hooks.activity)
        m_hooks.activity(0);
}

int CFileActionHandler::PairFileAction(FILE_ACTION_RECORD*& pRecord) {
    FILE_ACTION_RECORD* pNew = pRecord;
    if (!pNew)
        return 0;
    if (FILE_ACTION_RECORD* pHeld = m_pHeldRecord) {
        CFileActionTargets* pHeldTargets = TargetsOf(pHeld);
        if (pHeld->nAction == FILE_ACTION_ADDED && pNew->nAction == FILE_ACTION_MODIFIED &&
            KovraIsDirectory(pNew->strPath) && IsSameOrInside(pHeld->strPath, pNew->strPath) && pHeldTargets)
            pHeldTargets->m_bWholeFolder = 1;
        CFileActionTargets* pNewTargets = TargetsOf(pNew);
        if (pHeld->nAction == FILE_ACTION_REMOVED && pNew->nAction == FILE_ACTION_ADDED && pHeldTargets &&
            pNewTargets && !pHeldTargets->m_newTargets.IsEmpty() &&
            IsSameFile(pHeldTargets->m_newTargets.GetHead(), pNew->strPath)) {
            // One move: the backup copy moves along instead of being copied again.
            pNew->strPath2 = pHeld->strPath;
            pNewTargets->m_oldTargets.AddTail(pHeldTargets->m_newTargets.GetHead());
            pNew->nAction = FILE_ACTION_RENAMED_NEW_NAME;
            DestroyFileActionRecord(pHeld);
            m_pHeldRecord = nullptr;
        }
        if (m_pHeldRecord) {
            m_pHeldRecord = nullptr;
            ApplyFileAction(pHeld);
        }
    }
    if (m_nPendingCode != 0 && pNew->nAction != FILE_ACTION_FLUSH && !IsSameOrInside(m_strPendingPath, pNew->strPath))
        WritePendingError();
    if (pNew->nAction == FILE_ACTION_REMOVED ||
        (pNew->nAction == FILE_ACTION_ADDED && KovraIsDirectory(pNew->strPath))) {
        m_pHeldRecord = pNew;
        pRecord = nullptr;
        return 0;
    }
    if (pNew->nAction == FILE_ACTION_FLUSH) {
        // A flush with a directory: changes under it were lost, so it is compared with its backup again.
        const CString directory = pNew->strPath;
        DestroyFileActionRecord(pNew);
        pRecord = nullptr;
        if (!directory.IsEmpty())
            RescanDirectory(directory);
        return 0;
    }
    return 1;
}

void CFileActionHandler::ApplyFileAction(FILE_ACTION_RECORD* pRecord) {
    if (!pRecord)
        return;
    std::unique_ptr<FILE_ACTION_RECORD, void (*)(FILE_ACTION_RECORD*)> owner(pRecord, DestroyFileActionRecord);
    CFileActionTargets* pTargets = TargetsOf(pRecord);
    if (!pTargets)
        return;
    switch (pRecord->nAction) {
    case FILE_ACTION_ADDED:
        BackupAddedPath(pRecord->strPath, pTargets->m_newTargets, pTargets->m_bWholeFolder);
        break;
    case FILE_ACTION_REMOVED:
        RemoveBackupPath(pRecord->strPath, pTargets->m_newTargets);
        break;
    case FILE_ACTION_MODIFIED:
        BackupModifiedPath(pRecord->strPath, pTargets->m_newTargets);
        break;
    case FILE_ACTION_RENAMED_NEW_NAME:
        RenameBackupPath(pRecord->strPath2, pRecord->strPath, pTargets->m_oldTargets, pTargets->m_newTargets,
                         pTargets->m_bWholeFolder);
        break;
    default:
        break;
    }
    int letter = -1;
    if (!pTargets->m_newTargets.IsEmpty())
        letter = LetterIndexOf(pTargets->m_newTargets.GetHead());
    else if (!pTargets->m_oldTargets.IsEmpty())
        letter = LetterIndexOf(pTargets->m_oldTargets.GetHead());
    pTargets->m_newTargets.RemoveAll();
    pTargets->m_oldTargets.RemoveAll();
    if (letter >= 0 && m_hooks.destSpaceChanged)
        m_hooks.destSpaceChanged(letter);
}

int CFileActionHandler::BackupAddedPath(LPCTSTR lpszSource, CStringList& targets, int bWholeFolder) {
    int all = 1;
    // Gone again before its turn came: a later change of the monitor says where it went.
    const DWORD attributes = GetFileAttributesW(lpszSource);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return all;
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    for (POSITION pos = targets.GetHeadPosition(); pos;) {
        const CString target = targets.GetNext(pos);
        if (bWholeFolder) {
            const int r = KovraCopyPath(lpszSource, target);
            LogFormatted(r == 0 ? kLogInformation : kLogError, r == 0 ? 1284 : 1285, lpszSource, nullptr, u"" __FILE__,
                         __LINE__);
            all &= r == 0;
        } else if (isFolder) {
            SetLastError(ERROR_SUCCESS);
            const int ok = KovraUpdateDir(lpszSource, target);
            DWORD code = ok ? ERROR_SUCCESS : GetLastError();
            if (!ok && code == ERROR_SUCCESS)
                code = ERROR_CANNOT_MAKE;
            LogFileResult(static_cast<int>(code), lpszSource, 1276, 1277);
            all &= ok != 0;
        } else {
            const int r = KovraCopyFile(lpszSource, target);
            if (r == 0) {
                LogFileResult(0, lpszSource, 1286, 1287);
            } else if (r != KOVRA_ERROR_SKIPPED) {
                m_nPendingCode = r;
                m_nPendingKind = 1;
                m_strPendingPath = lpszSource;
                all = 0;
            }
        }
    }
    return all;
}

int CFileActionHandler::BackupModifiedPath(LPCTSTR lpszSource, CStringList& targets) {
    int all = 1;
    const DWORD attributes = GetFileAttributesW(lpszSource);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return all;
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    for (POSITION pos = targets.GetHeadPosition(); pos;) {
        const CString target = targets.GetNext(pos);
        if (isFolder) {
            KovraUpdateDir(lpszSource, target);
            continue;
        }
        const int r = KovraCopyFile(lpszSource, target);
        if (r == 0 || r == KOVRA_ERROR_SKIPPED) {
            if (r == 0)
                LogFileResult(0, lpszSource, 1288, 1289);
            if (m_nPendingCode != 0 && m_strPendingPath.CompareNoCase(lpszSource) == 0) {
                m_nPendingCode = 0;
                m_nPendingKind = -1;
                m_strPendingPath.Empty();
            }
        } else {
            // Kept back: a later copy of the same file that succeeds replaces it; another file's change, or the
            // end of the service, writes it.
            m_nPendingCode = r;
            m_nPendingKind = 3;
            m_strPendingPath = lpszSource;
            all = 0;
        }
    }
    return all;
}

int CFileActionHandler::RemoveBackupPath(LPCTSTR lpszSource, CStringList& targets) {
    int all = 1;
    for (POSITION pos = targets.GetHeadPosition(); pos;) {
        const CString target = targets.GetNext(pos);
        const bool isFolder = KovraIsDirectory(target) != 0;
        int r = KovraRemovePath(target);
        // A folder that is still there was not removed whole, whatever the removal answered.
        if (r == 0 && GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES)
            r = ERROR_DIR_NOT_EMPTY;
        if (r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND)
            continue;
        all &= r == 0;
        if (isFolder) {
            LogFormatted(r == 0 ? kLogInformation : kLogError, r == 0 ? 1280 : 1281, lpszSource, nullptr, u"" __FILE__,
                         __LINE__);
        } else if (!IsTempFileName(lpszSource, nullptr)) {
            LogFormatted(r == 0 ? kLogInformation : kLogError, r == 0 ? 1290 : 1291, lpszSource, nullptr, u"" __FILE__,
                         __LINE__);
        }
    }
    return all;
}

int CFileActionHandler::RenameBackupPath(LPCTSTR lpszOldSource, LPCTSTR lpszNewSource, CStringList& oldTargets,
                                         CStringList& newTargets, int bWholeFolder) {
    const INT_PTR o = oldTargets.GetCount();
    const INT_PTR n = newTargets.GetCount();
    if (o == 0 && n == 0)
        return 1;
    if (n == 0)
        return RemoveBackupPath(lpszOldSource, oldTargets);
    if (o == 0)
        return BackupAddedPath(lpszNewSource, newTargets, bWholeFolder);
    CStringList pairedOld, pairedNew, restOld, restNew;
    INT_PTR i = 0;
    for (POSITION pos = oldTargets.GetHeadPosition(); pos; ++i)
        (i < n ? pairedOld : restOld).AddTail(oldTargets.GetNext(pos));
    i = 0;
    for (POSITION pos = newTargets.GetHeadPosition(); pos; ++i)
        (i < o ? pairedNew : restNew).AddTail(newTargets.GetNext(pos));
    int all = RenameTargets(lpszOldSource, lpszNewSource, pairedOld, pairedNew);
    if (!restOld.IsEmpty())
        all &= RemoveBackupPath(lpszOldSource, restOld);
    if (!restNew.IsEmpty())
        all &= BackupAddedPath(lpszNewSource, restNew, bWholeFolder);
    return all;
}

int CFileActionHandler::RenameTargets(LPCTSTR lpszOldSource, LPCTSTR lpszNewSource, CStringList& oldTargets,
                                      CStringList& newTargets) {
    int all = 1;
    int copied = 0;
    int r = 0;
    POSITION posOld = oldTargets.GetHeadPosition();
    POSITION posNew = newTargets.GetHeadPosition();
    while (posOld && posNew) {
        const CString oldTarget = oldTargets.GetNext(posOld);
        const CString newTarget = newTargets.GetNext(posNew);
        r = KovraRenamePath(oldTarget, newTarget);
        if (r == ERROR_PATH_NOT_FOUND && GetFileAttributesW(oldTarget) != INVALID_FILE_ATTRIBUTES) {
            // Moved into a folder the backup does not have yet: it is made first.
            CString folder = newTarget.Left(std::max(0, newTarget.ReverseFind(_T('\\'))));
            if (folder.Left(4) == _T("\\\\?\\"))
                folder = folder.Mid(4);
            if (!folder.IsEmpty() && CBackAgent::MakeDirectoryPath(folder))
                r = KovraRenamePath(oldTarget, newTarget);
        }
        if ((r == ERROR_ALREADY_EXISTS || r == ERROR_FILE_EXISTS) &&
            GetFileAttributesW(oldTarget) != INVALID_FILE_ATTRIBUTES) {
            // The new name's copy is older than the renamed file's: it makes way, as on the source.
            KovraRemovePath(newTarget);
            r = KovraRenamePath(oldTarget, newTarget);
        }
        if (r != 0) {
            copied = 1;
            r = KovraCopyPath(lpszNewSource, newTarget);
            if (r == ERROR_FILE_NOT_FOUND)
                r = KovraRenamePath(oldTarget, newTarget);
            else if ((r == 0 || r == KOVRA_ERROR_SKIPPED) && GetFileAttributesW(oldTarget) != INVALID_FILE_ATTRIBUTES)
                KovraRemovePath(oldTarget); // no stale copy under the old name
            if (r == KOVRA_ERROR_SKIPPED)
                r = 0;
        }
        if (r != 0) {
            all = 0;
        } else if (!copied && !KovraIsDirectory(lpszNewSource)) {
            // A change of the file that came before the rename and found it gone is taken along now.
            const int update = KovraCopyFile(lpszNewSource, newTarget);
            if (update != 0 && update != static_cast<int>(KOVRA_ERROR_SKIPPED) && update != ERROR_FILE_NOT_FOUND) {
                m_nPendingCode = update;
                m_nPendingKind = 3;
                m_strPendingPath = lpszNewSource;
            }
        }
    }
    const bool isFolder = KovraIsDirectory(lpszNewSource) != 0;
    if (!isFolder && !copied && IsTempFileName(lpszNewSource, lpszOldSource))
        return all;
    if (copied) {
        LogFileResult(r, lpszNewSource, 1288, 1289);
        return all;
    }
    const UINT id = isFolder ? (all ? 1282 : 1283) : (all ? 1292 : 1293);
    LogFormatted(all ? kLogInformation : kLogError, id, lpszOldSource, lpszNewSource, u"" __FILE__, __LINE__);
    return all;
}

void CFileActionHandler::LogFileResult(int nCode, LPCTSTR lpszPath, UINT nOkId, UINT nFailId) {
    if (IsTempFileName(lpszPath, nullptr))
        return;
    if (nCode == 0) {
        LogFormatted(kLogInformation, nOkId, lpszPath, nullptr, u"" __FILE__, __LINE__);
        return;
    }
    if (nCode == ERROR_FILE_NOT_FOUND || nCode == static_cast<int>(KOVRA_ERROR_SKIPPED))
        return;
    CString reason;
    if (nCode == ERROR_ACCESS_DENIED) {
        reason = LoadText(1223);
    } else if (nCode == ERROR_SHARING_VIOLATION) {
        reason = LoadText(1324);
    } else {
        TCHAR text[261] = {};
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(nCode),
                       0, text, 260, nullptr);
        reason = text;
        reason.TrimRight();
    }
    LogFormatted(kLogError, nFailId, lpszPath, reason, u"" __FILE__, __LINE__);
}

void CFileActionHandler::WritePendingError() {
    if (m_nPendingCode != 0) {
        if (m_nPendingKind == 1)
            LogFileResult(m_nPendingCode, m_strPendingPath, 1286, 1287);
        else
            LogFileResult(m_nPendingCode, m_strPendingPath, 1288, 1289);
    }
    m_nPendingCode = 0;
    m_nPendingKind = -1;
    m_strPendingPath.Empty();
}

void CFileActionHandler::Finish() {
    if (FILE_ACTION_RECORD* pHeld = m_pHeldRecord) {
        // A change kept back for pairing is applied rather than lost.
        m_pHeldRecord = nullptr;
        ApplyFileAction(pHeld);
    }
    WritePendingError();
}

// ---- Rescan after lost changes ---------------------------------------------------------------------------------

int CFileActionHandler::RescanDirectory(LPCTSTR lpszDirectory) {
    RescanRequest request;
    request.strDirectory = WithoutTrailingBackslash(lpszDirectory);
    if (!m_hWnd || !SendMessageW(m_hWnd, WM_FILE_ACTION_QUERY, kQueryRescan, reinterpret_cast<LPARAM>(&request)))
        return 0;
    CFileFilter filter;
    filter.SetPatterns(request.strFilter);
    int all = 1;
    for (RescanPlace& place : request.places)
        for (POSITION pos = place.targets.GetHeadPosition(); pos;)
            all &= MirrorTree(place.strSource, place.targets.GetNext(pos), filter);
    return all;
}

int CFileActionHandler::MirrorTree(const CString& strSource, const CString& strTarget, const CFileFilter& filter) {
    const DWORD attributes = GetFileAttributesW(strSource);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Gone from the source: its copy goes too.
        CStringList one;
        one.AddTail(strTarget);
        return RemoveBackupPath(strSource, one);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const int r = KovraCopyFile(strSource, strTarget);
        LogFileResult(r, strSource, 1286, 1287);
        return r == 0 || r == KOVRA_ERROR_SKIPPED;
    }
    int all = 1;
    if (!KovraIsDirectory(strTarget)) {
        if (GetFileAttributesW(strTarget) != INVALID_FILE_ATTRIBUTES)
            KovraRemovePath(strTarget);
        SetLastError(ERROR_SUCCESS);
        const int ok = KovraUpdateDir(strSource, strTarget);
        DWORD code = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && code == ERROR_SUCCESS)
            code = ERROR_CANNOT_MAKE;
        LogFileResult(static_cast<int>(code), strSource, 1276, 1277);
        if (!ok)
            return 0;
    }
    const auto sources = ListFolder(strSource);
    std::set<std::u16string> kept;
    for (const auto& [name, isFolder] : sources)
        kept.insert(std::u16string(name.GetString()));
    for (const auto& [name, isFolder] : ListFolder(strTarget)) {
        if (kept.count(std::u16string(name.GetString())))
            continue;
        CStringList one;
        one.AddTail(Join(strTarget, name));
        all &= RemoveBackupPath(Join(strSource, name), one);
    }
    for (const auto& [name, isFolder] : sources) {
        const CString source = Join(strSource, name);
        if (!isFolder && filter.IsFilteredPath(source))
            continue;
        if (CBackManager::IsExcludedFolder(source))
            continue;
        all &= MirrorTree(source, Join(strTarget, name), filter);
    }
    return all;
}

// ---- Helpers ---------------------------------------------------------------------------------------------------

void CFileActionHandler::Log(int nType, const CString& strText, LPCTSTR lpszFile, int nLine) {
    if (m_hooks.log)
        m_hooks.log(nType, strText, lpszFile, nLine);
}

void CFileActionHandler::LogFormatted(int nType, UINT nId, LPCTSTR lpszArg1, LPCTSTR lpszArg2, LPCTSTR lpszFile,
                                      int nLine) {
    const CString format = LoadText(nId);
    CString text;
    if (lpszArg2)
        text.Format(format, lpszArg1 ? lpszArg1 : _T(""), lpszArg2);
    else
        text.Format(format, lpszArg1 ? lpszArg1 : _T(""));
    Log(nType, text, lpszFile, nLine);
}

BOOL CFileActionHandler::IsTempFileName(LPCTSTR lpszPath, LPCTSTR lpszOtherPath) {
    auto starts = [](LPCTSTR path) {
        if (!path || !*path)
            return false;
        const CString text(path);
        const CString name = text.Mid(text.ReverseFind(_T('\\')) + 1);
        return !name.IsEmpty() && name[0] == _T('~');
    };
    return starts(lpszPath) || starts(lpszOtherPath);
}

BOOL CFileActionHandler::IsSameFile(LPCTSTR lpszPathA, LPCTSTR lpszPathB) {
    WIN32_FIND_DATAW a{}, b{};
    HANDLE findA = FindFirstFileW(lpszPathA, &a);
    if (findA == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(findA);
    HANDLE findB = FindFirstFileW(lpszPathB, &b);
    if (findB == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(findB);
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           CompareFileTime(&a.ftCreationTime, &b.ftCreationTime) == 0 &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

BOOL CFileActionHandler::IsSameOrInside(const CString& strPath, const CString& strFolder) {
    const CString path = WithoutTrailingBackslash(strPath);
    const CString folder = WithoutTrailingBackslash(strFolder);
    if (folder.IsEmpty() || path.GetLength() < folder.GetLength() ||
        path.Left(folder.GetLength()).CompareNoCase(folder) != 0)
        return FALSE;
    return path.GetLength() == folder.GetLength() || folder.Right(1) == _T("\\") ||
           path[folder.GetLength()] == _T('\\');
}
