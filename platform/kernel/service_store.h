// The service database: one registry key per service under HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services.
//
// The service control functions (services.h) keep the configuration there, the kernel's ZwOpenKey and
// ZwSetValueKey write the driver's own values into the same key; every program of the machine folder and the
// kernel host share it through the registry store. Names compare without regard to case.
#pragma once

#include "platform/base/types.h"

#include <optional>
#include <string>
#include <vector>

namespace platform::kernel::service_store {

struct Value {
    DWORD type = 0;
    std::vector<uint8_t> data;
};

// The service's key below HKEY_LOCAL_MACHINE.
std::u16string KeyPath(const std::u16string& serviceName);
bool Exists(const std::u16string& serviceName);
// Creates the key; false when it exists already or cannot be made.
bool Create(const std::u16string& serviceName);
// Removes the key with its values and subkeys.
bool Remove(const std::u16string& serviceName);
bool SetValue(const std::u16string& serviceName, const std::u16string& valueName, DWORD type, const void* data,
              size_t size);
std::optional<Value> GetValue(const std::u16string& serviceName, const std::u16string& valueName);
// Convenience for REG_SZ and REG_DWORD values.
bool SetString(const std::u16string& serviceName, const std::u16string& valueName, const std::u16string& text);
std::optional<std::u16string> GetString(const std::u16string& serviceName, const std::u16string& valueName);
bool SetDword(const std::u16string& serviceName, const std::u16string& valueName, DWORD value);
std::optional<DWORD> GetDword(const std::u16string& serviceName, const std::u16string& valueName);
// The names of every service, as created.
std::vector<std::u16string> Services();

} // namespace platform::kernel::service_store
