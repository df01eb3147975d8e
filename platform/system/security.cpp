// The process's access token: one set of privileges for the whole process, opened through token handles.
#include "platform/system/security.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/system/processes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include <unistd.h>

namespace {

struct PrivilegeName {
    DWORD luid;
    std::u16string_view name;
};

// The privileges by their Windows ids.
constexpr PrivilegeName kPrivileges[] = {
    {2, u"SeCreateTokenPrivilege"},       {3, u"SeAssignPrimaryTokenPrivilege"}, {4, u"SeLockMemoryPrivilege"},
    {5, u"SeIncreaseQuotaPrivilege"},     {6, u"SeMachineAccountPrivilege"},     {7, u"SeTcbPrivilege"},
    {8, u"SeSecurityPrivilege"},          {9, u"SeTakeOwnershipPrivilege"},      {10, u"SeLoadDriverPrivilege"},
    {11, u"SeSystemProfilePrivilege"},    {12, u"SeSystemtimePrivilege"},        {13, u"SeProfileSingleProcessPrivilege"},
    {14, u"SeIncreaseBasePriorityPrivilege"}, {15, u"SeCreatePagefilePrivilege"}, {16, u"SeCreatePermanentPrivilege"},
    {17, u"SeBackupPrivilege"},           {18, u"SeRestorePrivilege"},           {19, u"SeShutdownPrivilege"},
    {20, u"SeDebugPrivilege"},            {21, u"SeAuditPrivilege"},             {22, u"SeSystemEnvironmentPrivilege"},
    {23, u"SeChangeNotifyPrivilege"},     {24, u"SeRemoteShutdownPrivilege"},    {25, u"SeUndockPrivilege"},
    {26, u"SeSyncAgentPrivilege"},        {27, u"SeEnableDelegationPrivilege"},  {28, u"SeManageVolumePrivilege"},
    {29, u"SeImpersonatePrivilege"},      {30, u"SeCreateGlobalPrivilege"},      {31, u"SeTrustedCredManAccessPrivilege"},
    {32, u"SeRelabelPrivilege"},          {33, u"SeIncreaseWorkingSetPrivilege"}, {34, u"SeTimeZonePrivilege"},
    {35, u"SeCreateSymbolicLinkPrivilege"},
};

const PrivilegeName* ByName(std::u16string_view name) {
    for (const auto& p : kPrivileges)
        if (platform::EqualsNoCase(p.name, name))
            return &p;
    return nullptr;
}

const PrivilegeName* ByLuid(const LUID& luid) {
    if (luid.HighPart != 0)
        return nullptr;
    for (const auto& p : kPrivileges)
        if (p.luid == luid.LowPart)
            return &p;
    return nullptr;
}

// The process's token: the privileges it holds and their attributes.
class Token {
public:
    static Token& Get() {
        static auto* token = new Token;
        return *token;
    }
    std::mutex mutex;
    std::map<DWORD, DWORD> held; // id -> attributes

private:
    Token() {
        // What a standard user holds on Windows; change-notify is on from the start.
        for (DWORD id : {19u, 25u, 33u, 34u})
            held[id] = 0;
        held[23] = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
        if (geteuid() == 0) {
            for (DWORD id : {5u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 17u, 18u, 20u, 22u, 24u, 28u, 29u, 30u, 35u})
                held[id] = 0;
        }
    }
};

class TokenObject : public platform::KernelObject {
public:
    explicit TokenObject(DWORD access) : m_access(access) {}
    const char* TypeName() const override { return "Token"; }
    DWORD Access() const { return m_access; }

private:
    DWORD m_access;
};

std::shared_ptr<TokenObject> TokenOf(HANDLE handle, DWORD access) {
    auto token = platform::LookupHandleAs<TokenObject>(handle);
    if (token && (token->Access() & access) != access) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return token;
}

bool LocalSystem(LPCWSTR systemName) {
    return !systemName || !*systemName;
}

// The privileges of the token as a TOKEN_PRIVILEGES record of `ids`; its size in bytes.
DWORD RecordSize(size_t count) {
    return static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) + std::max<size_t>(count, 1) *
                                                                         sizeof(LUID_AND_ATTRIBUTES));
}

void WriteRecord(PTOKEN_PRIVILEGES record, const std::vector<std::pair<DWORD, DWORD>>& entries) {
    record->PrivilegeCount = static_cast<DWORD>(entries.size());
    auto* out = reinterpret_cast<LUID_AND_ATTRIBUTES*>(reinterpret_cast<BYTE*>(record) +
                                                       offsetof(TOKEN_PRIVILEGES, Privileges));
    for (size_t i = 0; i < entries.size(); ++i) {
        LUID_AND_ATTRIBUTES entry{};
        entry.Luid.LowPart = entries[i].first;
        entry.Attributes = entries[i].second;
        std::memcpy(out + i, &entry, sizeof entry);
    }
}

} // namespace

BOOL OpenProcessToken(HANDLE processHandle, DWORD desiredAccess, PHANDLE tokenHandle) {
    if (!tokenHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *tokenHandle = nullptr;
    const DWORD pid = GetProcessId(processHandle);
    if (pid == 0)
        return FALSE;
    if (pid != static_cast<DWORD>(getpid())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *tokenHandle = platform::InsertHandle(std::make_shared<TokenObject>(desiredAccess));
    return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
    if (!name || !luid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!LocalSystem(systemName)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const PrivilegeName* privilege = ByName(name);
    if (!privilege) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    luid->LowPart = privilege->luid;
    luid->HighPart = 0;
    return TRUE;
}

BOOL LookupPrivilegeNameW(LPCWSTR systemName, PLUID luid, LPWSTR name, LPDWORD cchName) {
    if (!luid || !cchName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!LocalSystem(systemName)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const PrivilegeName* privilege = ByLuid(*luid);
    if (!privilege) {
        SetLastError(ERROR_NO_SUCH_PRIVILEGE);
        return FALSE;
    }
    const DWORD length = static_cast<DWORD>(privilege->name.size());
    if (!name || *cchName <= length) {
        *cchName = length + 1;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(privilege->name.begin(), privilege->name.end(), name);
    name[length] = 0;
    *cchName = length;
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE tokenHandle, BOOL disableAllPrivileges, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    const auto token = TokenOf(tokenHandle, TOKEN_ADJUST_PRIVILEGES | (previousState ? TOKEN_QUERY : 0));
    if (!token)
        return FALSE;
    if (!disableAllPrivileges && !newState) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Token& state = Token::Get();
    std::lock_guard lock(state.mutex);
    // What changes: id -> new attributes; ids asked for that are not held.
    std::map<DWORD, DWORD> changes;
    bool allAssigned = true;
    if (disableAllPrivileges) {
        for (const auto& [id, attributes] : state.held)
            changes[id] = attributes & ~SE_PRIVILEGE_ENABLED;
    } else {
        for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
            LUID_AND_ATTRIBUTES entry{};
            std::memcpy(&entry,
                        reinterpret_cast<const BYTE*>(newState) + offsetof(TOKEN_PRIVILEGES, Privileges) +
                            i * sizeof(LUID_AND_ATTRIBUTES),
                        sizeof entry);
            const PrivilegeName* privilege = ByLuid(entry.Luid);
            const auto held = privilege ? state.held.find(privilege->luid) : state.held.end();
            if (held == state.held.end()) {
                allAssigned = false;
                continue;
            }
            if (entry.Attributes & SE_PRIVILEGE_REMOVED) {
                changes[held->first] = SE_PRIVILEGE_REMOVED;
                continue;
            }
            changes[held->first] =
                (held->second & ~SE_PRIVILEGE_ENABLED) | (entry.Attributes & SE_PRIVILEGE_ENABLED);
        }
    }
    // The previous state names the privileges whose state changes.
    std::vector<std::pair<DWORD, DWORD>> previous;
    for (const auto& [id, attributes] : changes)
        if (state.held[id] != attributes)
            previous.emplace_back(id, state.held[id]);
    if (previousState) {
        const DWORD needed = RecordSize(previous.size());
        if (returnLength)
            *returnLength = needed;
        if (bufferLength < needed) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        WriteRecord(previousState, previous);
    }
    for (const auto& [id, attributes] : changes) {
        if (attributes & SE_PRIVILEGE_REMOVED)
            state.held.erase(id);
        else
            state.held[id] = attributes;
    }
    SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL GetTokenInformation(HANDLE tokenHandle, TOKEN_INFORMATION_CLASS infoClass, LPVOID information,
                         DWORD infoLength, PDWORD returnLength) {
    const auto token = TokenOf(tokenHandle, TOKEN_QUERY);
    if (!token)
        return FALSE;
    if (infoClass != TokenPrivileges || !returnLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Token& state = Token::Get();
    std::lock_guard lock(state.mutex);
    const std::vector<std::pair<DWORD, DWORD>> entries(state.held.begin(), state.held.end());
    *returnLength = RecordSize(entries.size());
    if (!information || infoLength < *returnLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    WriteRecord(static_cast<PTOKEN_PRIVILEGES>(information), entries);
    return TRUE;
}

namespace platform::system {

bool IsPrivilegeEnabled(const char16_t* name) {
    const PrivilegeName* privilege = ByName(name);
    if (!privilege)
        return false;
    Token& state = Token::Get();
    std::lock_guard lock(state.mutex);
    const auto held = state.held.find(privilege->luid);
    return held != state.held.end() && (held->second & SE_PRIVILEGE_ENABLED);
}

} // namespace platform::system
