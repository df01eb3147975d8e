// Record shapes of the resource tables that the resource compiler (tools/rescomp) generates.
//
// A program links one table, which registers itself at static initialisation; a language library (a shared
// object) exports WinResourceDirectory instead, so that the layer finds its table through the module handle
// that LoadLibraryW returned. The data of each resource has the layout Windows gives it: string tables in
// blocks of sixteen length-prefixed strings, version records as VS_VERSIONINFO, bitmaps as a DIB without the
// file header, dialogs as DLGTEMPLATE, menus as a menu template; icons and cursors keep their whole file.
#pragma once

#include "platform/base/types.h"

namespace platform::res {

constexpr DWORD kDirectoryMagic = 0x53455257; // "WRES"
constexpr DWORD kDirectoryVersion = 1;

struct ResourceEntry {
    const char16_t* typeName; // null for an integer type
    WORD typeId;
    const char16_t* name; // null for an integer name
    WORD nameId;
    WORD language;
    const BYTE* data;
    DWORD size;
};

struct ResourceDirectory {
    DWORD magic;
    DWORD version;
    const ResourceEntry* entries;
    DWORD count;
};

// Makes `directory` the program's own resources (the module of GetModuleHandleW(NULL)).
void RegisterProgramResources(const ResourceDirectory* directory);

struct ProgramResourcesRegistrar {
    explicit ProgramResourcesRegistrar(const ResourceDirectory* directory) { RegisterProgramResources(directory); }
};

// The version record is also stored in the module file behind this marker, so that GetFileVersionInfoW can read
// it from a file that is not loaded. The marker is followed by the record's size and its complement (both 32-bit
// little-endian) and then the record itself.
constexpr char kVersionMarker[] = "WRES:VERSIONINFO";
constexpr size_t kVersionMarkerLength = sizeof(kVersionMarker) - 1;

} // namespace platform::res

// Exported by language libraries.
extern "C" const platform::res::ResourceDirectory* WinResourceDirectory();
