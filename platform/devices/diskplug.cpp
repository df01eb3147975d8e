// diskplug: plugs image files in as disks, unplugs them and lists them.
#include "platform/devices/disks.h"

#include "platform/base/strings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using platform::devices::DiskIdentity;

int Usage(FILE* out) {
    fprintf(out,
            "diskplug: plugs disk image files into the layer's machine as disks, as if they were plugged in.\n"
            "\n"
            "  diskplug plug IMAGE [--hwid USB\\VID_xxxx&PID_xxxx] [--serial S] [--vendor V] [--product P]\n"
            "                      [--revision R] [--name FRIENDLY] [--removable]\n"
            "  diskplug unplug N [--surprise]\n"
            "  diskplug list\n"
            "\n"
            "The machine folder is the one WINLAYER_MACHINE names (or the default one). Unplugging asks the programs\n"
            "that watch the disk first; --surprise takes it away without asking.\n");
    return out == stdout ? 0 : 2;
}

int Failed(const char* what, unsigned long error) {
    const char* reason = error == 2      ? "no such image or disk"
                         : error == 87   ? "not a regular image file of at least one sector"
                         : error == 183  ? "that image is plugged already"
                         : error == 2404 ? "the disk is in use, or a program refused its removal"
                         : error == 5    ? "access denied"
                                         : "failed";
    fprintf(stderr, "diskplug: %s: %s (error %lu)\n", what, reason, error);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))
        return Usage(argc < 2 ? stderr : stdout);
    const std::string command = argv[1];
    if (command == "plug" && argc >= 3) {
        DiskIdentity id;
        for (int i = 3; i < argc; ++i) {
            const std::string option = argv[i];
            if (option == "--removable") {
                id.removable = true;
                continue;
            }
            if (i + 1 >= argc)
                return Usage(stderr);
            const std::u16string value = platform::Utf8ToUtf16(argv[++i]);
            if (option == "--hwid")
                id.hardwareId = value;
            else if (option == "--serial")
                id.serial = value;
            else if (option == "--vendor")
                id.vendor = value;
            else if (option == "--product")
                id.product = value;
            else if (option == "--revision")
                id.revision = value;
            else if (option == "--name")
                id.friendlyName = value;
            else
                return Usage(stderr);
        }
        DWORD number = 0;
        if (const DWORD error = platform::devices::PlugDisk(argv[2], id, number))
            return Failed("plug", error);
        printf("%lu\n", static_cast<unsigned long>(number));
        return 0;
    }
    if (command == "unplug" && (argc == 3 || (argc == 4 && !strcmp(argv[3], "--surprise")))) {
        char* end = nullptr;
        const unsigned long number = strtoul(argv[2], &end, 10);
        if (!end || *end)
            return Usage(stderr);
        if (const DWORD error = platform::devices::UnplugDisk(static_cast<DWORD>(number), argc == 4))
            return Failed("unplug", error);
        return 0;
    }
    if (command == "list" && argc == 2) {
        for (const auto& disk : platform::devices::ListDisks()) {
            printf("%lu\t%s\t%s\t%s\t%s\t%s\n", static_cast<unsigned long>(disk.number), disk.image.c_str(),
                   platform::Utf16ToUtf8(disk.identity.hardwareId).c_str(),
                   platform::Utf16ToUtf8(disk.identity.friendlyName).c_str(),
                   disk.identity.removable ? "removable" : "fixed", platform::Utf16ToUtf8(disk.letters).c_str());
        }
        return 0;
    }
    return Usage(stderr);
}
