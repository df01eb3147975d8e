// The system's format library, FMIFS.DLL: FormatEx, loaded at run time (LoadLibraryW, GetProcAddress).
//
// FormatEx formats the volume of a drive root ("E:\") of a plugged disk with NTFS, the one file system offered:
// it opens the volume, locks it (refused while a file or another handle on it is open) and dismounts its file
// system, writes a new NTFS with the label and cluster size asked for (mkntfs, quick or not the same: the data
// area is not cleared), and lets the volume go, which mounts the new file system. It reports through the
// callback: PROGRESS with a pointer to the percentage (0 to 100), then DONE with a pointer to a BOOLEAN
// success, also on failure. A callback that answers FALSE stops it at the next step without DONE.
// EnableVolumeCompression and ChkdskEx are there but do nothing useful: they fail.
#pragma once

#include "platform/base/types.h"

using PWCHAR = WCHAR*;

enum CALLBACKCOMMAND : int32_t {
    PROGRESS = 0,
    DONEWITHSTRUCTURE = 1,
    UNKNOWN2 = 2,
    UNKNOWN3 = 3,
    UNKNOWN4 = 4,
    UNKNOWN5 = 5,
    INSUFFICIENTRIGHTS = 6,
    FSNOTSUPPORTED = 7,
    VOLUMEINUSE = 8,
    UNKNOWN9 = 9,
    UNKNOWNA = 10,
    DONE = 11,
    UNKNOWNC = 12,
    UNKNOWND = 13,
    OUTPUT = 14,
    STRUCTUREPROGRESS = 15,
    CLUSTERSIZETOOSMALL = 16,
};

constexpr DWORD FMIFS_REMOVABLE = 11;
constexpr DWORD FMIFS_HARDDISK = 12;

using PFMIFSCALLBACK = BOOLEAN (*)(CALLBACKCOMMAND command, DWORD subAction, PVOID actionInfo);

extern "C" {
void FormatEx(PWCHAR driveRoot, DWORD mediaFlag, PWCHAR format, PWCHAR label, BOOL quickFormat, DWORD clusterSize,
              PFMIFSCALLBACK callback);
BOOLEAN EnableVolumeCompression(PWCHAR driveRoot, BOOL enable);
void ChkdskEx(PWCHAR driveRoot, PWCHAR format, BOOL correctErrors, BOOL verbose, BOOL checkOnlyIfDirty, BOOL scanDrive,
              PVOID unused1, PVOID unused2, PFMIFSCALLBACK callback);
}
