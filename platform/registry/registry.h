// The registry: keys and typed values in hives kept as SQLite databases in the machine folder.
//
// Stands in for the Win32 registry functions with their semantics: values keep their type and their raw bytes
// (a REG_SZ may hold any bytes), sizes are in bytes, a buffer that is too small gives ERROR_MORE_DATA with the
// size needed, missing keys and values give ERROR_FILE_NOT_FOUND, enumeration ends with ERROR_NO_MORE_ITEMS.
// Names compare without regard to case and keep the case they were created with; keys and values enumerate in
// the order they were created (a value that is set again keeps its place). RegDeleteKeyW refuses a key that has
// subkeys with ERROR_ACCESS_DENIED, as Windows NT does. Handles carry their access mask and are checked against it.
// Handles of a key that another handle deleted report ERROR_KEY_DELETED; pointing the process at another machine
// folder closes every open key. Like Windows, these functions return their error code and leave the thread's last
// error alone.
//
// Differs: each predefined root (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
// HKEY_CURRENT_CONFIG) is a hive of its own: HKEY_CLASSES_ROOT is not a merged view of the Classes keys and
// HKEY_CURRENT_USER is not a link below HKEY_USERS. Keys have no class, security or volatility. Every write is
// one SQLite transaction (WAL journal, full sync), so processes of one machine share the store safely and a
// crash loses no setting that was written; writers in different processes take turns in the order they come,
// and readers do not wait for writers. The system's font table under HKEY_LOCAL_MACHINE is kept up to date with the
// user's font folder each time it is opened (platform/registry/fonttable.h).
#pragma once

#include "platform/base/types.h"
#include "platform/base/unique_handle.h"

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))
#define HKEY_CURRENT_CONFIG (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000005u)))

using LSTATUS = LONG;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_RESOURCE_LIST = 8;
constexpr DWORD REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr DWORD REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_EXECUTE = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// RegCreateKeyExW options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_OPTION_VOLATILE = 0x1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM desired,
                        LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
// Creates or opens with full access.
LSTATUS RegCreateKeyW(HKEY key, LPCWSTR subKey, PHKEY result);
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LSTATUS RegCloseKey(HKEY key);

namespace platform {
// An open key that closes itself.
using OwnedKey = UniqueHandle<HKEY, &RegCloseKey>;
} // namespace platform

// Deletes a key that has no subkeys, with its values. An empty subkey deletes `key` itself.
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Every write already reaches the disk when it returns; this only checks the handle.
LSTATUS RegFlushKey(HKEY key);

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);

// Name sizes are in characters: in, the buffer's room including the terminator; out, the name's length without it.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR keyClass,
                      LPDWORD classSize, PFILETIME lastWriteTime);
LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD dataSize);
// Longest names are in characters without the terminator, the longest data in bytes. Keys have no class and no
// security descriptor here: their sizes are reported as 0.
LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                         LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
                         LPDWORD maxValueLength, LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
