// The resource script and its compiler's entry point (the lexer, preprocessor, parser and record encoders have
// files of their own).
//
// A script is a text file (UTF-8) in the style of a Windows resource script:
//
//   #include "resource.h"                  // only its #define lines count
//   #define IDS_HELLO 100
//   LANGUAGE 0x09, 0x01                    // primary and sub-language, or one LANGID; applies to what follows
//   STRINGTABLE BEGIN IDS_HELLO "Hello\n" END
//   1 VERSIONINFO FILEVERSION 1,7,1,0 ... BEGIN BLOCK "StringFileInfo" BEGIN ... END END
//   300 DRIVER "${DRIVER_FILE}"            // any type: the file's bytes; ${NAME} comes from -D NAME=value
//   128 ICON "app.ico"                     // ICON, CURSOR, BITMAP, RCDATA, or any type name or number
//   2300 DIALOG 0, 0, 200, 100 STYLE ... CAPTION "..." FONT 8, "MS Shell Dlg" BEGIN CONTROL ... END
//   4000 MENU BEGIN POPUP "File" BEGIN MENUITEM "Exit", 32771 MENUITEM SEPARATOR END END
//
// Comments are // and /* */; blocks use BEGIN/END or braces; numbers are decimal or 0x hex; expressions combine
// numbers, defines and the usual style constants with | + - ~ and NOT (which clears bits).
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace rescomp {

struct ResourceName {
    bool isInteger = true;
    uint16_t id = 0;
    std::u16string name; // upper-case, as Windows keeps resource names
};

struct Resource {
    ResourceName type;
    ResourceName name;
    uint16_t language = 0;
    std::vector<uint8_t> data;
    bool isVersion = false; // also stored behind the version marker
};

struct CompileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::map<std::string, std::string> variables; // ${NAME} in file paths
    std::vector<std::string> includeDirs;
};

struct Compiled {
    std::vector<Resource> resources;
    std::vector<std::string> dependencies; // every file read, for the build's dependency tracking
};

// Compiles a script; throws CompileError with "file:line: message" on a fault.
Compiled CompileScript(const std::string& path, const Options& options);

std::u16string Utf8ToUtf16(const std::string& text);

} // namespace rescomp
