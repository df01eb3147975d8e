// "sp216.dll": the Sunplus bridge library over the simulated chips.
#include "platform/usb/bridgechips.h"
#include "platform/usb/enclosure_sim.h"

#include "platform/base/strings.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

using platform::usb::ChipFamily;
using platform::usb::ChipState;

// Handles are the disk number plus this, so that no device is 0 or -1.
constexpr intptr_t kHandleBase = 0x5000;

std::u16string TextField(const BYTE* bytes, size_t size) {
    std::u16string text;
    for (size_t i = 0; i < size && bytes[i]; ++i)
        text.push_back(static_cast<char16_t>(bytes[i]));
    return text;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) intptr_t EnumDeviceHandle(const BYTE* record, int, int) {
    if (!record)
        return -1;
    const std::u16string id = u"USB\\VID_" + TextField(record, 12) + u"&PID_" + TextField(record + 12, 40);
    for (const auto& e : platform::usb::Enclosures())
        if (e.family == ChipFamily::SunPlus && platform::EqualsNoCase(e.hardwareId, id))
            return kHandleBase + static_cast<intptr_t>(e.disk);
    return -1;
}

__attribute__((visibility("default"))) int Set_Get_GPIO_Index(BYTE pin, BYTE write, BYTE* value, intptr_t device) {
    platform::usb::SimulatedEnclosure enclosure;
    if (!value || pin >= 8 || device < kHandleBase ||
        !platform::usb::FindEnclosure(static_cast<DWORD>(device - kHandleBase), enclosure) ||
        enclosure.family != ChipFamily::SunPlus)
        return 0;
    ChipState seen;
    bool failed = false;
    bool pressed = false;
    const bool ok = platform::usb::UpdateChip(enclosure.key, [&](ChipState& s) {
        seen = s;
        if (s.failGpio > 0) {
            --s.failGpio;
            failed = true;
            return;
        }
        if (write) {
            s.pins[pin] = *value;
            if (pin == 1 || pin == 2)
                ++s.ledWrites;
        } else if (pin == 0 && s.presses > 0) {
            --s.presses;
            pressed = true;
        }
    });
    if (seen.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(seen.delayMs));
    if (!ok || failed)
        return 0;
    if (!write)
        *value = pin == 0 ? (pressed ? 1 : 0) : seen.pins[pin];
    return 1;
}

__attribute__((visibility("default"))) void CloseDevice() {}

} // extern "C"
