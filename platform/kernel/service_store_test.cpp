// The service database is the registry's Services key: what the store writes, the registry reads, and back.
#include "platform/kernel/service_store.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace store = platform::kernel::service_store;

constexpr const char16_t* kKey = u"System\\CurrentControlSet\\Services\\Disk0";

TEST(ServiceStoreTest, KeysLiveInTheMachinesRegistry) {
    platform::machine::ScopedTestMachine machine;
    EXPECT_FALSE(store::Exists(u"Disk0"));
    ASSERT_TRUE(store::Create(u"Disk0"));
    EXPECT_FALSE(store::Create(u"DISK0")); // names compare without regard to case
    EXPECT_TRUE(store::Exists(u"disk0"));
    EXPECT_EQ(store::KeyPath(u"Disk0"), kKey);
    for (const char16_t* bad : {u"", u"a\\b", u"a/b", u".."}) {
        EXPECT_FALSE(store::Create(bad));
        EXPECT_FALSE(store::Exists(bad));
    }

    // The store's values are the key's values, with their types.
    ASSERT_TRUE(store::SetString(u"Disk0", u"ImagePath", u"T:\\Disk0.sys"));
    ASSERT_TRUE(store::SetDword(u"Disk0", u"Start", 3));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    DWORD type = 0, start = 0, size = sizeof(start);
    ASSERT_EQ(RegQueryValueExW(key, u"start", nullptr, &type, reinterpret_cast<BYTE*>(&start), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(start, 3u);
    WCHAR path[32] = {};
    size = sizeof(path);
    ASSERT_EQ(RegQueryValueExW(key, u"ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(path), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::u16string(path), u"T:\\Disk0.sys");

    // And what the registry writes, the store reads: any size, any type.
    const std::vector<uint8_t> blob(5000, 0xA5);
    ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())), ERROR_SUCCESS);
    const auto value = store::GetValue(u"Disk0", u"BLOB");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, REG_BINARY);
    EXPECT_EQ(value->data, blob);
    EXPECT_FALSE(store::GetString(u"Disk0", u"Blob")); // not a string
    EXPECT_FALSE(store::GetValue(u"Disk0", u"Missing"));
    EXPECT_FALSE(store::SetString(u"Other", u"Name", u"x")); // no such service

    // Removing the service takes its subkeys with it.
    HKEY sub = nullptr;
    ASSERT_EQ(RegCreateKeyW(key, u"Enum\\Deep", &sub), ERROR_SUCCESS);
    RegCloseKey(sub);
    RegCloseKey(key);
    ASSERT_TRUE(store::Create(u"Second"));
    auto names = store::Services();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Disk0", u"Second"}));
    ASSERT_TRUE(store::Remove(u"disk0"));
    EXPECT_FALSE(store::Exists(u"Disk0"));
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_FALSE(store::Remove(u"Disk0"));
    EXPECT_EQ(store::Services(), std::vector<std::u16string>{u"Second"});
}

} // namespace
