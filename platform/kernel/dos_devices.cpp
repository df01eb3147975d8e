// DOS device names of the session (DefineDosDevice, QueryDosDevice) and the drive letters that lead to devices.
#include "platform/kernel/io_private.h"

#include <algorithm>

namespace platform::kernel {
namespace {

constexpr ULONG kDddRawTargetPath = 0x1;
constexpr ULONG kDddRemoveDefinition = 0x2;
constexpr ULONG kDddExactMatchOnRemove = 0x4;

} // namespace

NTSTATUS DefineDosDevice(ULONG flags, const std::u16string& name, const std::u16string& target) {
    if (name.empty() || name.find(u'\\') != std::u16string::npos)
        return STATUS_OBJECT_NAME_INVALID;
    const std::u16string ntTarget = (flags & kDddRawTargetPath) || target.empty() ? target : u"\\??\\" + target;
    std::lock_guard lock(Names().lock);
    auto& stack = Names().localDosDevices[FoldName(name)];
    if (!(flags & kDddRemoveDefinition)) {
        if (ntTarget.empty())
            return STATUS_INVALID_PARAMETER;
        stack.push_back(ntTarget);
        return STATUS_SUCCESS;
    }
    if (stack.empty()) {
        Names().localDosDevices.erase(FoldName(name));
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    if (ntTarget.empty()) {
        stack.pop_back();
    } else {
        auto match = std::find_if(stack.rbegin(), stack.rend(), [&](const std::u16string& t) {
            return (flags & kDddExactMatchOnRemove) ? FoldName(t) == FoldName(ntTarget)
                                                    : FoldName(t).rfind(FoldName(ntTarget), 0) == 0;
        });
        if (match == stack.rend())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        stack.erase(std::next(match).base());
    }
    if (stack.empty())
        Names().localDosDevices.erase(FoldName(name));
    return STATUS_SUCCESS;
}

NTSTATUS QueryDosDevice(const std::u16string& name, std::vector<std::u16string>& result) {
    result.clear();
    std::lock_guard lock(Names().lock);
    EnsureRootLocked();
    if (name.empty()) {
        std::vector<std::u16string> names;
        for (const auto& [key, targets] : Names().localDosDevices)
            names.push_back(key);
        for (const auto& [key, entry] : Names().entries) {
            if (key.rfind(u"\\GLOBAL??\\", 0) == 0 && key.find(u'\\', 10) == std::u16string::npos)
                names.push_back(entry.name.substr(entry.name.rfind(u'\\') + 1));
        }
        for (auto& n : names) {
            if (std::none_of(result.begin(), result.end(), [&](const auto& r) { return FoldName(r) == FoldName(n); }))
                result.push_back(n);
        }
        return STATUS_SUCCESS;
    }
    auto local = Names().localDosDevices.find(FoldName(name));
    if (local != Names().localDosDevices.end())
        result.assign(local->second.rbegin(), local->second.rend());
    auto global = Names().entries.find(u"\\GLOBAL??\\" + FoldName(name));
    if (global != Names().entries.end() && global->second.kind == EntryKind::SymbolicLink)
        result.push_back(global->second.target);
    return result.empty() ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_SUCCESS;
}

std::vector<DriveLetterDevice> DriveLetterDevices() {
    std::vector<DriveLetterDevice> result;
    std::lock_guard lock(Names().lock);
    for (int drive = 0; drive < 26; ++drive) {
        const std::u16string name = std::u16string(u"\\??\\") + static_cast<char16_t>(u'A' + drive) + u":";
        Resolved resolved = ResolveLocked(name, true);
        if (!NT_SUCCESS(resolved.status) || resolved.entry->kind != EntryKind::Device)
            continue;
        DriveLetterDevice letter{drive, resolved.entry->name, 0, 0, {}};
        if (auto device = resolved.entry->device.lock()) {
            letter.deviceType = device->object.DeviceType;
            letter.characteristics = device->object.Characteristics;
            letter.mount = device->mount;
        }
        result.push_back(std::move(letter));
    }
    return result;
}

} // namespace platform::kernel
