// One hive: a SQLite database of keys and values. Private to the registry folder.
//
// Keys form a tree by parent id; the hive's root key has id 1. Names are stored as UTF-16 code units together
// with their upper-case fold, which is what lookups and the uniqueness rule compare. Ids only grow, so enumeration
// by id is creation order and an id is never reused by another key (a handle to a deleted key stays deleted).
// Every call is one transaction; calls are serialised within the process, and writers across processes take
// turns in the order they come.
#pragma once

#include "platform/base/types.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace platform::registry {

using KeyId = int64_t;
constexpr KeyId kRootKey = 1;

using Path = std::vector<std::u16string>;
using Bytes = std::vector<BYTE>;

struct KeyInfo {
    DWORD subKeys = 0;
    DWORD maxSubKeyLength = 0;
    DWORD values = 0;
    DWORD maxValueNameLength = 0;
    DWORD maxValueLength = 0;
    int64_t lastWrite = 0;
};

struct Value {
    std::u16string name;
    DWORD type = 0;
    Bytes data;
};

class Hive {
public:
    // Opens (creating when missing) the database at `file`. Returns null with `error` set on failure.
    static std::shared_ptr<Hive> Open(const std::string& file, LONG& error);
    ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    // ERROR_KEY_DELETED when the key no longer exists.
    LONG CheckKey(KeyId key);
    // Finds `path` below `from`: ERROR_FILE_NOT_FOUND when a component is missing.
    LONG Find(KeyId from, const Path& path, KeyId& found);
    // Finds or creates `path` below `from`. `mayCreate` false turns a needed creation into ERROR_ACCESS_DENIED.
    LONG Create(KeyId from, const Path& path, bool mayCreate, KeyId& found, bool& created);
    // Deletes a key without subkeys (ERROR_ACCESS_DENIED otherwise, and for the hive's root).
    LONG DeleteKey(KeyId key);

    LONG QueryValue(KeyId key, const std::u16string& name, DWORD& type, Bytes& data);
    LONG SetValue(KeyId key, const std::u16string& name, DWORD type, const BYTE* data, DWORD size);
    LONG DeleteValue(KeyId key, const std::u16string& name);

    // ERROR_NO_MORE_ITEMS past the end.
    LONG EnumKey(KeyId key, DWORD index, std::u16string& name, int64_t& lastWrite);
    LONG EnumValue(KeyId key, DWORD index, Value& value);
    LONG QueryInfo(KeyId key, KeyInfo& info);

private:
    Hive() = default;
    class Transaction;

    LONG OpenConnection();
    sqlite3* Db();

    std::mutex m_mutex;
    std::string m_file;
    sqlite3* m_db = nullptr;
    int m_pid = 0;     // the process that opened m_db; a forked child opens its own connection
    int m_turnFd = -1; // the lock file that orders the hive's writers (see hive.cpp)
};

} // namespace platform::registry
