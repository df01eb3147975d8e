#include "platform/usb/enclosure_sim.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/devices/disks.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace platform::usb {
namespace {

constexpr const char16_t* kJMicronIds[] = {u"USB\\VID_152D&PID_2338", u"USB\\VID_6A5E&PID_0001"};
constexpr const char16_t* kSunPlusIds[] = {u"USB\\VID_6A5E&PID_0002", u"USB\\VID_6A5E&PID_0003"};

std::string StatePath(const std::string& key) {
    const std::string folder = platform::machine::PathOf("usb");
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder + "/" + key + ".chip";
}

std::string Serialise(const ChipState& s) {
    std::ostringstream out;
    out << "inquiry=" << s.inquiry << "\n";
    for (const auto& [reg, value] : s.registers)
        out << "register." << reg << "=" << value << "\n";
    for (int i = 0; i < 8; ++i)
        out << "pin." << i << "=" << int(s.pins[i]) << "\n";
    out << "presses=" << s.presses << "\nfailInquiry=" << s.failInquiry << "\nfailAtacb=" << s.failAtacb
        << "\nfailGpio=" << s.failGpio << "\ndelayMs=" << s.delayMs << "\nledWrites=" << s.ledWrites << "\n";
    return out.str();
}

void Parse(const std::string& text, ChipState& s) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        const long number = std::strtol(value.c_str(), nullptr, 10);
        if (name == "inquiry")
            s.inquiry = value;
        else if (name.rfind("register.", 0) == 0)
            s.registers[static_cast<uint16_t>(std::strtol(name.c_str() + 9, nullptr, 10))] =
                static_cast<uint16_t>(number);
        else if (name.rfind("pin.", 0) == 0) {
            const long pin = std::strtol(name.c_str() + 4, nullptr, 10);
            if (pin >= 0 && pin < 8)
                s.pins[pin] = static_cast<uint8_t>(number);
        } else if (name == "presses")
            s.presses = static_cast<int>(number);
        else if (name == "failInquiry")
            s.failInquiry = static_cast<int>(number);
        else if (name == "failAtacb")
            s.failAtacb = static_cast<int>(number);
        else if (name == "failGpio")
            s.failGpio = static_cast<int>(number);
        else if (name == "delayMs")
            s.delayMs = static_cast<int>(number);
        else if (name == "ledWrites")
            s.ledWrites = static_cast<int>(number);
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// The chip's registers as they come from the factory: every LED off.
ChipState Fresh() {
    ChipState s;
    s.registers[0x7058] = 0x0089;
    return s;
}

std::string KeyOf(const platform::devices::DiskInfo& disk) {
    return "disk-" + std::to_string(std::hash<std::string>{}(disk.image));
}

} // namespace

ChipFamily FamilyOfHardwareId(const std::u16string& hardwareId) {
    for (const char16_t* id : kJMicronIds)
        if (platform::EqualsNoCase(hardwareId, id))
            return ChipFamily::JMicron;
    for (const char16_t* id : kSunPlusIds)
        if (platform::EqualsNoCase(hardwareId, id))
            return ChipFamily::SunPlus;
    return ChipFamily::None;
}

std::vector<SimulatedEnclosure> Enclosures() {
    std::vector<SimulatedEnclosure> found;
    for (const auto& disk : platform::devices::ListDisks()) {
        const ChipFamily family = FamilyOfHardwareId(disk.identity.hardwareId);
        if (family == ChipFamily::None)
            continue;
        found.push_back({disk.number, family, disk.identity.hardwareId, disk.letters, KeyOf(disk)});
    }
    return found;
}

bool FindEnclosure(DWORD disk, SimulatedEnclosure& enclosure) {
    for (const auto& e : Enclosures())
        if (e.disk == disk) {
            enclosure = e;
            return true;
        }
    return false;
}

bool EnclosureOfLetter(WCHAR letter, SimulatedEnclosure& enclosure) {
    const WCHAR upper = letter >= u'a' && letter <= u'z' ? WCHAR(letter - 32) : letter;
    for (const auto& e : Enclosures())
        if (e.letters.find(upper) != std::u16string::npos) {
            enclosure = e;
            return true;
        }
    return false;
}

bool ReadChip(const std::string& key, ChipState& state) {
    state = Fresh();
    const int fd = ::open(StatePath(key).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    ::flock(fd, LOCK_SH);
    Parse(ReadAll(fd), state);
    ::close(fd);
    return true;
}

bool UpdateChipState(const std::string& key, void (*change)(ChipState&, void*), void* context) {
    const std::string path = StatePath(key);
    // The lock lives on a file of its own, so that the state file can be replaced whole by a rename.
    const int lock = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return false;
    ::flock(lock, LOCK_EX);
    ChipState state = Fresh();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        Parse(ReadAll(fd), state);
        ::close(fd);
    }
    change(state, context);
    const std::string text = Serialise(state);
    const std::string temporary = path + ".new";
    bool ok = false;
    if (FILE* f = std::fopen(temporary.c_str(), "wb")) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        ok = std::fclose(f) == 0 && ok;
        ok = ok && std::rename(temporary.c_str(), path.c_str()) == 0;
    }
    ::close(lock);
    return ok;
}

uint16_t JMicronDataRegister(const ChipState& state) {
    return state.inquiry == "j335" || state.inquiry == "j336" ? 0x7058 : 0x7030;
}

LedState Leds(const SimulatedEnclosure& enclosure) {
    LedState leds;
    ChipState s;
    ReadChip(enclosure.key, s);
    if (enclosure.family == ChipFamily::SunPlus) {
        leds.controllable = true;
        leds.secure = s.pins[1] == 1;
        leds.ready = s.pins[2] == 1;
        return leds;
    }
    const uint16_t reg = JMicronDataRegister(s);
    const uint16_t value = s.registers.count(reg) ? s.registers.at(reg) : 0;
    if (s.inquiry == "j336" || (reg == 0x7030 && value == 0xD204))
        return leds;
    leds.controllable = true;
    if (reg == 0x7058) {
        // Lit by a cleared bit; bit 0x80 marks a value the libraries wrote.
        leds.secure = (value & 0x80) && !(value & 0x08);
        leds.ready = (value & 0x80) && !(value & 0x01);
    } else {
        leds.secure = (value & 0x08) != 0;
        leds.ready = (value & 0x01) != 0;
    }
    return leds;
}

DWORD PressButton(DWORD disk, int polls) {
    SimulatedEnclosure enclosure;
    if (!FindEnclosure(disk, enclosure))
        return ERROR_FILE_NOT_FOUND;
    return UpdateChip(enclosure.key, [polls](ChipState& s) { s.presses += polls; }) ? ERROR_SUCCESS
                                                                                    : ERROR_WRITE_FAULT;
}

} // namespace platform::usb
