// "JMUsbDll.dll": the JMicron bridge library over the simulated chips.
#include "platform/usb/bridgechips.h"
#include "platform/usb/enclosure_sim.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

using platform::usb::ChipFamily;
using platform::usb::ChipState;
using platform::usb::SimulatedEnclosure;

bool JMicronOfLetter(BYTE letter, SimulatedEnclosure& enclosure) {
    return platform::usb::EnclosureOfLetter(static_cast<WCHAR>(letter), enclosure) &&
           enclosure.family == ChipFamily::JMicron;
}

void Delay(const ChipState& s) {
    if (s.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(s.delayMs));
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int GetDriveList(BYTE* letters, int size) {
    if (!letters || size <= 0)
        return -1;
    int count = 0;
    for (const auto& e : platform::usb::Enclosures())
        if (e.family == ChipFamily::JMicron)
            for (char16_t letter : e.letters)
                if (count < size)
                    letters[count++] = static_cast<BYTE>(letter);
    return count;
}

__attribute__((visibility("default"))) int GetUsbIdList(BYTE* entries, int count) {
    if (!entries || count <= 0)
        return -1;
    int n = 0;
    for (const auto& e : platform::usb::Enclosures()) {
        if (e.family != ChipFamily::JMicron || n >= count)
            continue;
        BYTE* entry = entries + n * platform::usb::kUsbIdEntrySize;
        std::memset(entry, 0, platform::usb::kUsbIdEntrySize);
        for (size_t i = 0; i < e.hardwareId.size() && i + 1 < platform::usb::kUsbIdEntrySize; ++i)
            entry[i] = static_cast<BYTE>(e.hardwareId[i]);
        ++n;
    }
    return n;
}

__attribute__((visibility("default"))) int JMInquiry(BYTE letter, BYTE* buffer, int size) {
    SimulatedEnclosure enclosure;
    if (!buffer || size < 4 || !JMicronOfLetter(letter, enclosure))
        return 1;
    ChipState seen;
    bool failed = false;
    platform::usb::UpdateChip(enclosure.key, [&](ChipState& s) {
        seen = s;
        if (s.failInquiry > 0) {
            --s.failInquiry;
            failed = true;
        }
    });
    Delay(seen);
    if (failed)
        return 1;
    std::memset(buffer, 0, static_cast<size_t>(size));
    std::memcpy(buffer, seen.inquiry.data(), std::min<size_t>(seen.inquiry.size(), 4));
    return 0;
}

__attribute__((visibility("default"))) int ATACBExecute(BYTE letter, BYTE* record, BYTE* data, int dataSize, int) {
    SimulatedEnclosure enclosure;
    if (!record || !data || dataSize < 2 || !JMicronOfLetter(letter, enclosure))
        return 1;
    const BYTE command = record[19];
    const uint16_t reg = static_cast<uint16_t>(record[10] << 8 | record[12]);
    ChipState seen;
    bool failed = false;
    bool pressed = false;
    const bool ok = platform::usb::UpdateChip(enclosure.key, [&](ChipState& s) {
        seen = s;
        if (s.failAtacb > 0) {
            --s.failAtacb;
            failed = true;
            return;
        }
        switch (command) {
        case 0xFE: // register write
            s.registers[reg] = static_cast<uint16_t>(data[0] | data[1] << 8);
            if (reg == platform::usb::JMicronDataRegister(s))
                ++s.ledWrites;
            break;
        case 0xFF: // button query
            if (s.presses > 0) {
                --s.presses;
                pressed = true;
            }
            break;
        default:
            break;
        }
    });
    Delay(seen);
    if (!ok || failed)
        return 1;
    record[8] = 0;
    switch (command) {
    case 0xFD: {
        const auto it = seen.registers.find(reg);
        uint16_t value = it == seen.registers.end() ? 0 : it->second;
        // Bit 0x04 of the 0x7058 data register is the button's input line: it reads the button, whatever was
        // written.
        if (reg == 0x7058 && reg == platform::usb::JMicronDataRegister(seen))
            value = static_cast<uint16_t>((value & ~0x04) | (seen.presses > 0 ? 0x04 : 0));
        data[0] = static_cast<BYTE>(value);
        data[1] = static_cast<BYTE>(value >> 8);
        break;
    }
    case 0xFF:
        data[0] = pressed ? 0x04 : 0x00;
        data[1] = 0;
        break;
    default:
        break;
    }
    return 0;
}

__attribute__((visibility("default"))) int ATACBExecuteEx(BYTE letter, BYTE* record, BYTE* data, int dataSize,
                                                          int flags, int) {
    return ATACBExecute(letter, record, data, dataSize, flags);
}

__attribute__((visibility("default"))) int JMGetChipInfo(BYTE letter, BYTE* buffer, int size) {
    return JMInquiry(letter, buffer, size);
}

} // extern "C"
