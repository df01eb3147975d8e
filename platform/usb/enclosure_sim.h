// Simulated enclosures: the bridge chip, LEDs and one-touch button of an enclosure around a plugged image disk.
//
// Stands in for the hardware the chip makers' libraries talk to. A plugged disk (platform/devices/disks.h) whose
// hardware id is one of a chip family's ids is an enclosure of that family; its chip's state lives in a file of the
// machine folder, so the library in one process and a tool in another (enclosuresim) see the same chip. Every change
// is made under a file lock, whole or not at all.
//
// The chips: a JMicron chip answers an inquiry with its name ("j335" unless a test sets another) and keeps 16-bit
// registers; its LEDs are bits of its data register (0x7058 for the names "j335" and "j336", else 0x7030): on the
// 0x7058 kind a cleared bit lights the LED, on the 0x7030 kind a set bit does; 0x08 is the secure-disk LED, 0x01 the
// ready LED. A Sunplus chip has eight pins: pin 0 reads the button, pin 1 is the secure-disk LED, pin 2 the ready
// LED. Bit 0x04 of the 0x7058 data register reads the button's line. A press of the button is seen by the next button queries (one press each, `polls` of them); tests may ask for
// a number of failing calls and for a delay on every call.
#pragma once

#include "platform/base/types.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform::usb {

enum class ChipFamily { None, JMicron, SunPlus };

// The family whose chips carry this USB id ("USB\VID_152D&PID_2338"), in any case of letters.
ChipFamily FamilyOfHardwareId(const std::u16string& hardwareId);

struct SimulatedEnclosure {
    DWORD disk = 0;             // the plugged disk's number
    ChipFamily family = ChipFamily::None;
    std::u16string hardwareId;  // of the bridge
    std::u16string letters;     // of the disk's volumes
    std::string key;            // names the chip's state
};

// The plugged disks that sit in an enclosure, by disk number.
std::vector<SimulatedEnclosure> Enclosures();
bool FindEnclosure(DWORD disk, SimulatedEnclosure& enclosure);
bool EnclosureOfLetter(WCHAR letter, SimulatedEnclosure& enclosure);

struct ChipState {
    std::string inquiry = "j335";
    std::map<uint16_t, uint16_t> registers;
    uint8_t pins[8] = {};
    int presses = 0;      // button queries still to see a press
    int failInquiry = 0;  // calls still to fail, per kind
    int failAtacb = 0;
    int failGpio = 0;
    int delayMs = 0;      // every call takes this long
    int ledWrites = 0;    // writes that reached the LED register or pins
};

// Reads the chip's state (defaults for a chip never touched), lets `change` alter it and writes it back, all under
// the state file's lock. False when the state cannot be stored.
template <class F> bool UpdateChip(const std::string& key, F change);
bool ReadChip(const std::string& key, ChipState& state);
bool UpdateChipState(const std::string& key, void (*change)(ChipState&, void*), void* context);

template <class F> bool UpdateChip(const std::string& key, F change) {
    return UpdateChipState(
        key, [](ChipState& s, void* c) { (*static_cast<F*>(c))(s); }, &change);
}

// The chip's data register and whether a set bit lights an LED, by its inquiry name and registers.
uint16_t JMicronDataRegister(const ChipState& state);

struct LedState {
    bool controllable = false; // a chip whose LEDs the libraries do not drive reports none
    bool secure = false;
    bool ready = false;
};
LedState Leds(const SimulatedEnclosure& enclosure);

// Presses the enclosure's button for the next `polls` button queries. ERROR_FILE_NOT_FOUND for a disk that is no
// enclosure.
DWORD PressButton(DWORD disk, int polls = 1);

} // namespace platform::usb
