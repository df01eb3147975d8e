#include "app/Utility.h"

#include "platform/afx/File.h"
#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/format.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/crypt/wincrypt.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/volumes.h"
#include "platform/help/htmlhelp.h"
#include "platform/registry/registry.h"
#include "platform/shell/browse.h"
#include "platform/system/processes.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <cstring>
#include <optional>
#include <vector>

namespace {

// ----- Windows versions -----

struct VersionName {
    const char16_t* name;
    int code;
};

// The first row that matches the version; none for a version the table does not know.
std::optional<VersionName> LookUpVersion(const OSVERSIONINFOW& info) {
    const DWORD build = info.dwBuildNumber & 0xFFFF;
    const DWORD major = info.dwMajorVersion;
    const DWORD minor = info.dwMinorVersion;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        if (major != 4)
            return std::nullopt;
        if (minor < 10 && build == 950)
            return VersionName{u"Windows 95", 1};
        if (minor <= 9 && build >= 951 && build <= 1080)
            return VersionName{u"Windows 95 SP1", 2};
        if (minor <= 9 && build >= 1081)
            return VersionName{u"Windows 95 OSR2", 3};
        if (minor == 10 && build == 1998)
            return VersionName{u"Windows 98", 4};
        if (minor == 10 && build >= 1999 && build <= 2182)
            return VersionName{u"Windows 98 SP1", 5};
        if (minor == 10 && build >= 2183)
            return VersionName{u"Windows 98 SE", 6};
        if (minor == 90)
            return VersionName{u"Windows ME", 7};
        return std::nullopt;
    case VER_PLATFORM_WIN32_NT:
        if (major == 3 && minor == 51)
            return VersionName{u"Windows NT 3.51", 101};
        if (major == 4 && minor == 0)
            return VersionName{u"Windows NT 4", 102};
        if (major == 5 && minor == 0)
            return VersionName{u"Windows 2000", 103};
        if (major == 5 && minor == 1)
            return VersionName{u"Windows XP", 104};
        if (major == 5 && minor == 2)
            return VersionName{u"Windows 2003", 105};
        if (major == 6 && minor == 0)
            return VersionName{u"Vista", 106};
        return std::nullopt;
    case VER_PLATFORM_WIN32_CE:
        return VersionName{u"Windows CE", 201};
    default:
        return std::nullopt;
    }
}

bool ReadVersion(OSVERSIONINFOW& info) {
    std::memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExW(&info) != FALSE;
}

// ----- Size texts -----

// Rounds the kept digits up by one in their last place, carrying left over the decimal point. A carry out of the
// leading digit adds a digit in front and drops the last one, so that the text keeps three significant digits
// (9.997 gives "10.0", 99.97 gives "100").
std::u16string RoundUp(std::u16string kept) {
    for (size_t i = kept.size(); i-- > 0;) {
        if (kept[i] == u'.')
            continue;
        if (kept[i] != u'9') {
            ++kept[i];
            return kept;
        }
        kept[i] = u'0';
    }
    kept.insert(kept.begin(), u'1');
    if (kept.find(u'.') != std::u16string::npos) {
        kept.pop_back();
        if (kept.back() == u'.')
            kept.pop_back();
    }
    return kept;
}

// ----- Help -----

struct HelpPage {
    UINT ids[3];
    const char16_t* format;
};

const HelpPage kHelpPages[] = {
    {{490, 3200, 3300}, u"%s::/Ch4-1.html"},
    {{3800, 3900}, u"%s::/Ch4-2.html"},
    {{1200}, u"%s::/Ch4-3-1.html"},
    {{1301}, u"%s::/Ch4-3-2.html"},
    {{1000}, u"%s::/Ch4-3-3.html"},
    {{1100}, u"%s::/Ch4-3-4.html"},
    {{2100}, u"%s::/Ch4-5.html"},
    {{2300}, u"%s::/Ch4.html"},
    {{900, 1400}, u"%s::/Ch5-1.html"},
    {{3100}, u"%s::/Ch5-1-2.html"},
    {{3000}, u"%s::/Ch5-1-3.html"},
    {{2900}, u"%s::/Ch5-1-4.html"},
    {{2600}, u"%s::/Ch5-1-4-1.html"},
    {{2800}, u"%s::/Ch5-1-4-2.html"},
    {{2700}, u"%s::/Ch5-1-4-3.html"},
};

constexpr UINT kHelpFileNameId = 6100;
constexpr WCHAR kDefaultHelpFile[] = u"Kovra_ENG.CHM";

// The help file, worked out once it has been found and kept for the rest of the run.
CString g_helpFile;

BOOL FindHelpFile(CString& strHelpFile) {
    if (!g_helpFile.IsEmpty()) {
        strHelpFile = g_helpFile;
        return TRUE;
    }
    WCHAR module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    CString folder(module);
    const int slash = folder.ReverseFind(u'\\');
    if (slash < 0)
        return FALSE;
    folder = folder.Left(slash);
    CString name;
    name.LoadString(kHelpFileNameId);
    CString path;
    path.Format(u"%s\\%s\\%s", static_cast<LPCTSTR>(folder), u"Doc", static_cast<LPCTSTR>(name));
    if (name.IsEmpty() || !PathExists(path)) {
        path.Format(u"%s\\%s\\%s", static_cast<LPCTSTR>(folder), u"Doc", kDefaultHelpFile);
        if (!PathExists(path))
            return FALSE;
    }
    g_helpFile = path;
    strHelpFile = path;
    return TRUE;
}

// ----- Cipher -----

constexpr BYTE kCipherMarker = 'p';
constexpr BYTE kEscape = 0x01;

class CryptContext {
public:
    ~CryptContext() {
        if (m_key)
            CryptDestroyKey(m_key);
        if (m_hash)
            CryptDestroyHash(m_hash);
        if (m_provider)
            CryptReleaseContext(m_provider, 0);
    }

    // The default key container of the full RSA provider (created in the base provider when it does not exist
    // yet), and the RC4 key derived from the MD5 hash of the pass phrase.
    bool DeriveKey(LPCSTR lpszPassPhrase) {
        if (!CryptAcquireContextW(&m_provider, nullptr, nullptr, PROV_RSA_FULL, 0)) {
            if (GetLastError() != NTE_BAD_KEYSET)
                return false;
            m_provider = 0;
            if (!CryptAcquireContextW(&m_provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
                m_provider = 0;
                return false;
            }
        }
        if (!CryptCreateHash(m_provider, CALG_MD5, 0, 0, &m_hash)) {
            m_hash = 0;
            return false;
        }
        const DWORD length = static_cast<DWORD>(std::strlen(lpszPassPhrase));
        if (!CryptHashData(m_hash, reinterpret_cast<const BYTE*>(lpszPassPhrase), length, 0))
            return false;
        if (!CryptDeriveKey(m_provider, CALG_RC4, m_hash, 0, &m_key)) {
            m_key = 0;
            return false;
        }
        return true;
    }

    HCRYPTKEY Key() const { return m_key; }

private:
    HCRYPTPROV m_provider = 0;
    HCRYPTHASH m_hash = 0;
    HCRYPTKEY m_key = 0;
};

// A work buffer that is wiped when it goes, since it holds a password.
struct WorkBuffer {
    std::vector<BYTE> bytes = std::vector<BYTE>(kCipherWorkSize, 0);
    ~WorkBuffer() { std::memset(bytes.data(), 0, bytes.size()); }
};

} // namespace

BOOL GetExeFolder(CString& strFolder) {
    strFolder.Empty();
    WCHAR module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return FALSE;
    CString path(module);
    const int slash = path.ReverseFind(u'\\');
    if (slash < 0)
        return FALSE;
    strFolder = path.Left(slash + 1);
    return TRUE;
}

BOOL IsWindowsVista() {
    OSVERSIONINFOW info;
    if (!ReadVersion(info))
        return FALSE;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 6 && info.dwMinorVersion == 0;
}

BOOL IsNTPlatform() {
    static const BOOL isNT = [] {
        OSVERSIONINFOW info;
        return static_cast<BOOL>(ReadVersion(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT);
    }();
    return isNT;
}

BOOL GetWindowsVersionName(LPWSTR lpszName, int nLength, int* pnCode) {
    if (lpszName && nLength > 0)
        lstrcpynW(lpszName, u"unknown Windows version", nLength);
    if (pnCode)
        *pnCode = 0;
    OSVERSIONINFOW info;
    if (!ReadVersion(info))
        return FALSE;
    const auto row = LookUpVersion(info);
    if (!row)
        return TRUE;
    if (lpszName && nLength > 0)
        lstrcpynW(lpszName, row->name, nLength);
    if (pnCode)
        *pnCode = row->code;
    return TRUE;
}

void FormatThousands(CString& strText, LONGLONG nCount) {
    CString digits;
    digits.Format(u"%I64d", nCount);
    const int sign = (!digits.IsEmpty() && digits[0] == u'-') ? 1 : 0;
    for (int i = digits.GetLength() - 3; i > sign; i -= 3)
        digits.Insert(i, u',');
    strText = digits;
}

void FormatSizeText(CString& strNumber, CString& strUnit, ULONGLONG nBytes) {
    CString count;
    count.Format(u"%I64d", static_cast<LONGLONG>(nBytes));
    const int digits = count.GetLength();
    if (digits <= 3) {
        strNumber = count;
        strUnit = nBytes <= 1 ? u"Byte" : u"Bytes";
        return;
    }
    if (digits > 11) {
        strNumber.Format(u"%I64d ", static_cast<LONGLONG>(nBytes / 1073741824ull));
        strUnit = u"GB";
        return;
    }
    int divisions = 0;
    if (digits <= 6) {
        divisions = 1;
        strUnit = u"KB";
    } else if (digits <= 9) {
        divisions = 2;
        strUnit = u"MB";
    } else {
        divisions = 3;
        strUnit = u"GB";
    }
    double quotient = static_cast<double>(nBytes);
    for (int i = 0; i < divisions; ++i)
        quotient /= 1024.0;
    CString text;
    text.Format(u"%0.3f", quotient);
    const std::u16string& full = text.Str();
    // Three significant digits: three characters, or four when the decimal point is among them.
    size_t keep = std::min<size_t>(3, full.size());
    if (full.substr(0, keep).find(u'.') != std::u16string::npos)
        keep = std::min<size_t>(4, full.size());
    std::u16string kept = full.substr(0, keep);
    // Only the next character decides: 6 to 9 round up, a 5 or the decimal point do not.
    if (keep < full.size() && full[keep] >= u'6' && full[keep] <= u'9')
        kept = RoundUp(kept);
    strNumber = CString(std::u16string_view(kept));
}

ULONGLONG GetDriveFreeSpace(const CString& strRoot) {
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceW(strRoot, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return 0;
    return static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector * freeClusters;
}

void RemoveLongPathPrefix(CString& strPath) {
    if (strPath.Left(4) == u"\\\\?\\")
        strPath = strPath.Mid(4);
}

BOOL PathExists(LPCTSTR lpszPath) {
    if (GetFileAttributesW(lpszPath) != INVALID_FILE_ATTRIBUTES)
        return TRUE;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

ULONGLONG GetFileLength(LPCTSTR lpszPath) {
    CFile file;
    CFileException error;
    if (!file.Open(lpszPath, CFile::modeRead | CFile::shareDenyNone, &error)) {
        SetLastError(error.m_lOsError > 0 ? static_cast<DWORD>(error.m_lOsError) : ERROR_OPEN_FAILED);
        return 0;
    }
    ULONGLONG length = 0;
    try {
        length = file.GetLength();
    } catch (CFileException* e) {
        const DWORD code = e->m_lOsError > 0 ? static_cast<DWORD>(e->m_lOsError) : ERROR_READ_FAULT;
        e->Delete();
        file.Abort();
        SetLastError(code);
        return 0;
    }
    file.Abort();
    SetLastError(ERROR_SUCCESS);
    return length;
}

BOOL IsDriveLetterFree(int nDriveIndex) {
    if (nDriveIndex < 0 || nDriveIndex > 25)
        return FALSE;
    WCHAR root[4] = {static_cast<WCHAR>(u'A' + nDriveIndex), u':', u'\\', 0};
    const UINT type = GetDriveTypeW(root);
    return type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR;
}

int BrowseFolderCallback(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM /*lpData*/) {
    if (uMsg != BFFM_SELCHANGED)
        return 0;
    // An item without a file-system path clears the status rather than leaving the last folder's path there.
    WCHAR path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
        path[0] = 0;
    SendMessageW(hwnd, BFFM_SETSTATUSTEXT, 0, reinterpret_cast<LPARAM>(path));
    return 0;
}

BOOL IsShowHiddenFiles() {
    platform::OwnedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return FALSE;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status =
        RegQueryValueExW(key.get(), u"Hidden", nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1;
}

BOOL DeleteFolderTree(LPCTSTR lpszPath) {
    if (!lpszPath || !*lpszPath)
        return FALSE;
    CString folder(lpszPath);
    if (folder[folder.GetLength() - 1] == u'\\')
        folder = folder.Left(folder.GetLength() - 1);
    WIN32_FIND_DATAW data;
    platform::UniqueHandle<HANDLE, &FindClose> find(FindFirstFileW(folder + u"\\*", &data));
    if (!find)
        return FALSE;
    BOOL ok = TRUE;
    do {
        const CString name(data.cFileName);
        if (name == u"." || name == u"..")
            continue;
        const CString path = folder + u"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = DeleteFolderTree(path);
        } else {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path, data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            ok = DeleteFileW(path);
        }
    } while (ok && FindNextFileW(find.get(), &data));
    find.reset();
    if (!ok)
        return FALSE;
    return RemoveDirectoryW(folder);
}

namespace {

enum class FindResult { Found, NotFound, ListFailed };

// The first running process whose first module has the base name, compared without regard to case as Windows
// compares file names ("outlook.exe" is "OUTLOOK.EXE"), opened for query and read (the handle also waits for the
// process to end). Processes that cannot be opened (another user's) are passed over.
FindResult FindProcess(LPCTSTR lpszBaseName, platform::OwnedHandle& process, DWORD& processId) {
    process.reset();
    processId = 0;
    std::vector<DWORD> ids(4048);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes))
        return FindResult::ListFailed;
    const DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        platform::OwnedHandle candidate(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]));
        if (!candidate)
            continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        WCHAR name[MAX_PATH] = {};
        const bool named = EnumProcessModules(candidate.get(), &module, sizeof(module), &needed) &&
                           GetModuleBaseNameW(candidate.get(), module, name, MAX_PATH) > 0;
        if (named && lstrcmpiW(name, lpszBaseName) == 0) {
            process = std::move(candidate);
            processId = ids[i];
            return FindResult::Found;
        }
    }
    return FindResult::NotFound;
}

bool StillRuns(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

struct CloseRequest {
    DWORD processId;
};

BOOL CloseWindowOfProcess(HWND hwnd, LPARAM lParam) {
    const auto* request = reinterpret_cast<const CloseRequest*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != request->processId)
        return TRUE;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(hwnd, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG | SMTO_NOTIMEOUTIFNOTHUNG, 100, &answer) &&
        answer != 0)
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

BOOL IsProcessRunning(LPCTSTR lpszBaseName) {
    if (!lpszBaseName)
        return FALSE;
    platform::OwnedHandle process;
    DWORD processId = 0;
    return FindProcess(lpszBaseName, process, processId) == FindResult::Found;
}

BOOL CloseProcessWindows(LPCTSTR lpszBaseName) {
    if (!lpszBaseName)
        return FALSE;
    platform::OwnedHandle process;
    DWORD processId = 0;
    switch (FindProcess(lpszBaseName, process, processId)) {
    case FindResult::ListFailed:
        return FALSE;
    case FindResult::NotFound:
        return TRUE;
    case FindResult::Found:
        break;
    }
    CloseRequest request{processId};
    EnumWindows(CloseWindowOfProcess, reinterpret_cast<LPARAM>(&request));
    Sleep(500);
    if (StillRuns(process.get()))
        Sleep(500);
    return !StillRuns(process.get());
}

BOOL ShowHelpTopic(UINT nDialogId) {
    CString helpFile;
    if (!FindHelpFile(helpFile))
        return FALSE;
    CString topic = helpFile;
    for (const HelpPage& page : kHelpPages) {
        for (UINT id : page.ids) {
            if (id != 0 && id == nDialogId) {
                topic.Format(page.format, static_cast<LPCTSTR>(helpFile));
                break;
            }
        }
    }
    HtmlHelpW(nullptr, topic, HH_DISPLAY_TOPIC, 0);
    return TRUE;
}

BOOL EncryptString(LPCSTR lpszPlain, LPSTR lpszOut, DWORD dwOutSize, LPCSTR lpszPassPhrase) {
    if (!lpszPlain || !lpszOut || dwOutSize == 0 || !lpszPassPhrase) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t plainLength = strnlen(lpszPlain, kCipherWorkSize);
    if (plainLength + 1 > kCipherWorkSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    CryptContext crypt;
    if (!crypt.DeriveKey(lpszPassPhrase))
        return FALSE;
    WorkBuffer work;
    work.bytes[0] = kCipherMarker;
    std::memcpy(&work.bytes[1], lpszPlain, plainLength);
    DWORD length = static_cast<DWORD>(plainLength + 1);
    if (!CryptEncrypt(crypt.Key(), 0, TRUE, 0, work.bytes.data(), &length, kCipherWorkSize))
        return FALSE;

    const BYTE* cipher = work.bytes.data();
    const bool hasZero = std::memchr(cipher, 0, length) != nullptr;
    if (!hasZero) {
        if (length + 1 > dwOutSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(lpszOut, cipher, length);
        lpszOut[length] = 0;
        return TRUE;
    }
    // The escaped form starts with a byte that differs from the first cipher byte, so that it never deciphers to
    // the marker: that tells the two forms apart.
    std::vector<BYTE> escaped;
    escaped.reserve(static_cast<size_t>(length) * 2 + 1);
    escaped.push_back(cipher[0] == 0xFF ? 0xFE : 0xFF);
    for (DWORD i = 0; i < length; ++i) {
        if (cipher[i] == 0x00 || cipher[i] == kEscape) {
            escaped.push_back(kEscape);
            escaped.push_back(cipher[i] == 0x00 ? 0x02 : 0x01);
        } else {
            escaped.push_back(cipher[i]);
        }
    }
    if (escaped.size() + 1 > dwOutSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpszOut, escaped.data(), escaped.size());
    lpszOut[escaped.size()] = 0;
    return TRUE;
}

BOOL DecryptString(LPCSTR lpszCipher, DWORD dwLength, LPSTR lpszOut, DWORD dwOutSize, LPCSTR lpszPassPhrase) {
    if (!lpszCipher || dwLength == 0 || !lpszOut || dwOutSize == 0 || !lpszPassPhrase) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwLength > 2 * kCipherWorkSize + 1) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    CryptContext crypt;
    if (!crypt.DeriveKey(lpszPassPhrase))
        return FALSE;
    const BYTE* input = reinterpret_cast<const BYTE*>(lpszCipher);
    WorkBuffer work;
    DWORD length = 0;
    if (dwLength <= kCipherWorkSize) {
        // The plain form: the cipher text as it is.
        std::memcpy(work.bytes.data(), input, dwLength);
        length = dwLength;
        if (!CryptDecrypt(crypt.Key(), 0, TRUE, 0, work.bytes.data(), &length))
            return FALSE;
    }
    if (length == 0 || work.bytes[0] != kCipherMarker) {
        // The escaped form: a leading byte, then the cipher text with 0x00 and 0x01 escaped.
        std::memset(work.bytes.data(), 0, work.bytes.size());
        length = 0;
        for (DWORD i = 1; i < dwLength; ++i) {
            BYTE value = input[i];
            if (value == kEscape) {
                if (++i >= dwLength || (input[i] != 0x01 && input[i] != 0x02)) {
                    SetLastError(ERROR_INVALID_DATA);
                    return FALSE;
                }
                value = input[i] == 0x02 ? 0x00 : kEscape;
            }
            if (length >= kCipherWorkSize) {
                SetLastError(ERROR_INVALID_DATA);
                return FALSE;
            }
            work.bytes[length++] = value;
        }
        if (length == 0 || !CryptDecrypt(crypt.Key(), 0, TRUE, 0, work.bytes.data(), &length))
            return FALSE;
        if (length == 0 || work.bytes[0] != kCipherMarker) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
    }
    const DWORD plainLength = length - 1;
    if (plainLength + 1 > dwOutSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpszOut, &work.bytes[1], plainLength);
    lpszOut[plainLength] = 0;
    return TRUE;
}
