// enclosuresim: presses the one-touch button of a simulated enclosure, reads its LEDs, and sets up its chip.
#include "platform/usb/enclosure_sim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage(FILE* out) {
    fprintf(out,
            "enclosuresim: the bridge chip of an enclosure around a plugged disk (see diskplug).\n"
            "\n"
            "  enclosuresim list                       enclosures: disk number, family, letters, LEDs\n"
            "  enclosuresim press-button DISK [--hold N]  the button is seen pressed by the next N queries\n"
            "  enclosuresim leds DISK                  prints \"secure=on|off ready=on|off\" (or \"leds=none\")\n"
            "  enclosuresim set DISK [--inquiry NAME] [--register R=V] [--fail-inquiry N] [--fail-atacb N]\n"
            "                        [--fail-gpio N] [--delay MS]\n");
    return out == stdout ? 0 : 2;
}

const char* FamilyName(platform::usb::ChipFamily f) {
    return f == platform::usb::ChipFamily::JMicron ? "JMicron" : "Sunplus";
}

std::string LedText(const platform::usb::SimulatedEnclosure& e) {
    const auto leds = platform::usb::Leds(e);
    if (!leds.controllable)
        return "leds=none";
    return std::string("secure=") + (leds.secure ? "on" : "off") + " ready=" + (leds.ready ? "on" : "off");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !strcmp(argv[1], "--help"))
        return Usage(argc < 2 ? stderr : stdout);
    const std::string command = argv[1];
    if (command == "list") {
        for (const auto& e : platform::usb::Enclosures()) {
            std::string letters;
            for (char16_t c : e.letters)
                letters.push_back(static_cast<char>(c));
            printf("%lu %s %s %s\n", static_cast<unsigned long>(e.disk), FamilyName(e.family),
                   letters.empty() ? "-" : letters.c_str(), LedText(e).c_str());
        }
        return 0;
    }
    if (argc < 3)
        return Usage(stderr);
    const DWORD disk = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    platform::usb::SimulatedEnclosure enclosure;
    if (!platform::usb::FindEnclosure(disk, enclosure)) {
        fprintf(stderr, "enclosuresim: disk %lu is not plugged or has no known bridge chip\n",
                static_cast<unsigned long>(disk));
        return 1;
    }
    if (command == "press-button") {
        int polls = 1;
        if (argc >= 5 && !strcmp(argv[3], "--hold"))
            polls = std::atoi(argv[4]);
        return platform::usb::PressButton(disk, polls > 0 ? polls : 1) == 0 ? 0 : 1;
    }
    if (command == "leds") {
        printf("%s\n", LedText(enclosure).c_str());
        return 0;
    }
    if (command == "set") {
        platform::usb::ChipState wanted;
        bool ok = true;
        const bool stored = platform::usb::UpdateChip(enclosure.key, [&](platform::usb::ChipState& s) {
            for (int i = 3; i + 1 < argc; i += 2) {
                const std::string option = argv[i];
                const char* value = argv[i + 1];
                if (option == "--inquiry")
                    s.inquiry = value;
                else if (option == "--register") {
                    char* end = nullptr;
                    const unsigned long reg = std::strtoul(value, &end, 0);
                    if (!end || *end != '=') {
                        ok = false;
                        continue;
                    }
                    s.registers[static_cast<uint16_t>(reg)] = static_cast<uint16_t>(std::strtoul(end + 1, nullptr, 0));
                } else if (option == "--fail-inquiry")
                    s.failInquiry = std::atoi(value);
                else if (option == "--fail-atacb")
                    s.failAtacb = std::atoi(value);
                else if (option == "--fail-gpio")
                    s.failGpio = std::atoi(value);
                else if (option == "--delay")
                    s.delayMs = std::atoi(value);
                else
                    ok = false;
            }
        });
        if (!ok)
            return Usage(stderr);
        return stored ? 0 : 1;
    }
    return Usage(stderr);
}
