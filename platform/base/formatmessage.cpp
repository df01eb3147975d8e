#include "platform/base/formatmessage.h"

#include "platform/base/errors.h"
#include "platform/base/format.h"
#include "platform/base/strings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

struct SystemText {
    DWORD code;
    const char16_t* text;
};

// The English texts of the codes the layer reports. Each ends with CR LF when it is handed out.
constexpr SystemText kSystemTexts[] = {
    {0, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {2, u"The system cannot find the file specified."},
    {3, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {5, u"Access is denied."},
    {6, u"The handle is invalid."},
    {8, u"Not enough storage is available to process this command."},
    {11, u"An attempt was made to load a program with an incorrect format."},
    {12, u"The access code is invalid."},
    {13, u"The data is invalid."},
    {14, u"Not enough storage is available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {16, u"The directory cannot be removed."},
    {17, u"The system cannot move the file to a different disk drive."},
    {18, u"There are no more files."},
    {19, u"The media is write protected."},
    {21, u"The device is not ready."},
    {23, u"Data error (cyclic redundancy check)."},
    {25, u"The drive cannot locate a specific area or track on the disk."},
    {27, u"The drive cannot find the sector requested."},
    {29, u"The system cannot write to the specified device."},
    {30, u"The system cannot read from the specified device."},
    {31, u"A device attached to the system is not functioning."},
    {32, u"The process cannot access the file because it is being used by another process."},
    {33, u"The process cannot access the file because another process has locked a portion of the file."},
    {38, u"Reached the end of the file."},
    {39, u"The disk is full."},
    {50, u"The request is not supported."},
    {53, u"The network path was not found."},
    {55, u"The specified network resource or device is no longer available."},
    {65, u"Network access is denied."},
    {67, u"The network name cannot be found."},
    {80, u"The file exists."},
    {82, u"The directory or file cannot be created."},
    {85, u"The local device name is already in use."},
    {86, u"The specified network password is not correct."},
    {87, u"The parameter is incorrect."},
    {100, u"Cannot create another system semaphore."},
    {102, u"The semaphore is set and cannot be closed."},
    {109, u"The pipe has been ended."},
    {110, u"The system cannot open the device or file specified."},
    {111, u"The file name is too long."},
    {112, u"There is not enough space on the disk."},
    {120, u"This function is not supported on this system."},
    {121, u"The semaphore timeout period has expired."},
    {122, u"The data area passed to a system call is too small."},
    {123, u"The filename, directory name, or volume label syntax is incorrect."},
    {126, u"The specified module could not be found."},
    {127, u"The specified procedure could not be found."},
    {128, u"There are no child processes to wait for."},
    {131, u"An attempt was made to move the file pointer before the beginning of the file."},
    {144, u"The directory is not a subdirectory of the root directory."},
    {145, u"The directory is not empty."},
    {158, u"The segment is already unlocked."},
    {160, u"One or more arguments are not correct."},
    {161, u"The specified path is invalid."},
    {170, u"The requested resource is in use."},
    {183, u"Cannot create a file when that file already exists."},
    {187, u"The specified system semaphore name was not found."},
    {203, u"The system could not find the environment option that was entered."},
    {206, u"The filename or extension is too long."},
    {223, u"The file size exceeds the limit allowed and cannot be saved."},
    {230, u"The pipe state is invalid."},
    {232, u"The pipe is being closed."},
    {234, u"More data is available."},
    {258, u"The wait operation timed out."},
    {259, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {288, u"Attempt to release mutex not owned by caller."},
    {298, u"Too many posts were made to a semaphore."},
    {299, u"Only part of a ReadProcessMemory or WriteProcessMemory request was completed."},
    {317, u"The system cannot find message text for message number 0x%1 in the message file for %2."},
    {487, u"Attempt to access invalid address."},
    {534, u"Arithmetic result exceeded 32 bits."},
    {574, u"An unhandled exception occurred in the application."},
    {735, u"The wait was ended because a mutex was abandoned."},
    {995, u"The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, u"Overlapped I/O event is not in a signaled state."},
    {997, u"Overlapped I/O operation is in progress."},
    {998, u"Invalid access to memory location."},
    {1004, u"Invalid flags."},
    {1005, u"The volume does not contain a recognized file system.\r\nPlease make sure that all required file system "
           u"drivers are loaded and that the volume is not corrupted."},
    {1006, u"The volume for a file has been externally altered so that the opened file is no longer valid."},
    {1011, u"The configuration registry key could not be opened."},
    {1012, u"The configuration registry key could not be read."},
    {1013, u"The configuration registry key could not be written."},
    {1015, u"The registry is corrupted. The structure of one of the files containing registry data is corrupted, "
           u"or the system's memory image of the file is corrupted, or the file could not be recovered because the "
           u"alternate copy or log was absent or corrupted."},
    {1018, u"Illegal operation attempted on a registry key that has been marked for deletion."},
    {1020, u"Cannot create a symbolic link in a registry key that already has subkeys or values."},
    {1022, u"A notify change request is being completed and the information is not being returned in the caller's "
           u"buffer. The caller now needs to enumerate the files to find the changes."},
    {1052, u"The requested control is not valid for this service."},
    {1053, u"The service did not respond to the start or control request in a timely fashion."},
    {1056, u"An instance of the service is already running."},
    {1058, u"The service cannot be started, either because it is disabled or because it has no enabled devices "
           u"associated with it."},
    {1060, u"The specified service does not exist as an installed service."},
    {1061, u"The service cannot accept control messages at this time."},
    {1062, u"The service has not been started."},
    {1072, u"The specified service has been marked for deletion."},
    {1073, u"The specified service already exists."},
    {1100, u"The physical end of the tape has been reached."},
    {1112, u"No media in drive."},
    {1113, u"No mapping for the Unicode character exists in the target multi-byte code page."},
    {1114, u"A dynamic link library (DLL) initialization routine failed."},
    {1115, u"A system shutdown is in progress."},
    {1117, u"The request could not be performed because of an I/O device error."},
    {1127, u"While accessing the hard disk, a disk operation failed even after retries."},
    {1157, u"One of the library files needed to run this application cannot be found."},
    {1159, u"The message can be used only with synchronous operations."},
    {1167, u"The device is not connected."},
    {1168, u"Element not found."},
    {1169, u"There was no match for the specified key in the index."},
    {1200, u"The specified device name is invalid."},
    {1208, u"An extended error has occurred."},
    {1219, u"Multiple connections to a server or shared resource by the same user, using more than one user name, "
           u"are not allowed. Disconnect all previous connections to the server or shared resource and try again."},
    {1222, u"The network is not present or not started."},
    {1223, u"The operation was canceled by the user."},
    {1225, u"The remote computer refused the network connection."},
    {1235, u"The request was aborted."},
    {1300, u"Not all privileges or groups referenced are assigned to the caller."},
    {1307, u"This security ID may not be assigned as the owner of this object."},
    {1313, u"A specified privilege does not exist."},
    {1314, u"A required privilege is not held by the client."},
    {1326, u"Logon failure: unknown user name or bad password."},
    {1332, u"No mapping between account names and security IDs was done."},
    {1392, u"The file or directory is corrupted and unreadable."},
    {1400, u"Invalid window handle."},
    {1401, u"Invalid menu handle."},
    {1402, u"Invalid cursor handle."},
    {1404, u"Invalid hook handle."},
    {1406, u"Cannot create a top-level child window."},
    {1407, u"Cannot find window class."},
    {1408, u"Invalid window; it belongs to other thread."},
    {1409, u"Timer not found."},
    {1410, u"Class already exists."},
    {1411, u"Class does not exist."},
    {1412, u"Class still has open windows."},
    {1413, u"Invalid index."},
    {1427, u"Invalid hook procedure."},
    {1428, u"Cannot set nonlocal hook without a module handle."},
    {1444, u"Invalid thread identifier."},
    {1447, u"The window does not have scroll bars."},
    {1450, u"Insufficient system resources exist to complete the requested service."},
    {1460, u"This operation returned because the timeout period expired."},
    {1812, u"The specified image file did not contain a resource section."},
    {1813, u"The specified resource type cannot be found in the image file."},
    {1814, u"The specified resource name cannot be found in the image file."},
    {1815, u"The specified resource language ID cannot be found in the image file."},
    {1816, u"Not enough quota is available to process this command."},
    {1921, u"The name of the file cannot be resolved by the system."},
    {2250, u"This network connection does not exist."},
    {2404, u"The device is in use by an active process and cannot be disconnected."},
    {4321, u"The drive object is invalid."},
    {5023, u"The group or resource is not in the correct state to perform the requested operation."},
    {15106, u"User stopped resource enumeration."},
};

const char16_t* SystemTextOf(DWORD code) {
    for (const SystemText& entry : kSystemTexts)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

bool IsEnglishOrNeutral(DWORD languageId) {
    const WORD primary = PRIMARYLANGID(languageId);
    return languageId <= 0xFFFF && (primary == LANG_NEUTRAL || primary == LANG_ENGLISH);
}

// How one insert is formatted: the printf conversion between the exclamation marks ("s" when none is given).
struct InsertFormat {
    std::u16string conversion = u"s";
    bool String() const { return conversion.find_first_of(u"sS") != std::u16string::npos; }
    bool Wide64() const {
        return conversion.find(u"I64") != std::u16string::npos || conversion.find(u"ll") != std::u16string::npos;
    }
};

// One element of a parsed message: literal text, or insert number n (1..99) with its format.
struct Piece {
    std::u16string text;
    int insert = 0;
    InsertFormat format;
    std::u16string original; // the insert as written, for IGNORE_INSERTS
    bool hardBreak = false;
};

// Splits the message into literal text, hard breaks and inserts; %0 ends it.
std::vector<Piece> Parse(std::u16string_view message) {
    std::vector<Piece> pieces;
    auto literal = [&](char16_t c) {
        if (pieces.empty() || pieces.back().insert || pieces.back().hardBreak)
            pieces.emplace_back();
        pieces.back().text += c;
    };
    for (size_t i = 0; i < message.size(); ++i) {
        const char16_t c = message[i];
        if (c != u'%' || i + 1 >= message.size()) {
            literal(c);
            continue;
        }
        const char16_t next = message[i + 1];
        if (next == u'0')
            break;
        if (next >= u'1' && next <= u'9') {
            const size_t start = i;
            int number = next - u'0';
            ++i;
            if (i + 1 < message.size() && message[i + 1] >= u'0' && message[i + 1] <= u'9') {
                number = number * 10 + (message[i + 1] - u'0');
                ++i;
            }
            Piece piece;
            piece.insert = number;
            if (i + 1 < message.size() && message[i + 1] == u'!') {
                const size_t close = message.find(u'!', i + 2);
                if (close != std::u16string_view::npos) {
                    piece.format.conversion = std::u16string(message.substr(i + 2, close - i - 2));
                    i = close;
                }
            }
            piece.original = std::u16string(message.substr(start, i + 1 - start));
            pieces.push_back(std::move(piece));
            continue;
        }
        ++i;
        switch (next) {
        case u'n': {
            Piece piece;
            piece.hardBreak = true;
            pieces.push_back(piece);
            break;
        }
        case u'r':
            literal(u'\r');
            break;
        case u't':
            literal(u'\t');
            break;
        default: // %%, %., %! and any other character stand for themselves
            literal(next);
            break;
        }
    }
    return pieces;
}

// Formats one argument by its printf conversion.
std::u16string FormatInsert(const InsertFormat& format, ULONG_PTR value) {
    const std::u16string conversion = u"%" + format.conversion;
    if (format.String())
        return platform::Format(conversion.c_str(), reinterpret_cast<const void*>(value));
    if (format.Wide64())
        return platform::Format(conversion.c_str(), static_cast<unsigned long long>(value));
    return platform::Format(conversion.c_str(), static_cast<unsigned int>(value));
}

// Joins the text's own lines (CR LF, CR or LF) with blanks, or wraps at `width` characters; hard breaks stay.
std::u16string Layout(const std::vector<Piece>& pieces, const std::vector<std::u16string>& inserts, DWORD width,
                      bool ignoreInserts) {
    std::u16string out;
    size_t lineStart = 0;
    auto hardBreak = [&] {
        out += u"\r\n";
        lineStart = out.size();
    };
    auto wrap = [&] {
        if (width == 0 || width == FORMAT_MESSAGE_MAX_WIDTH_MASK)
            return;
        while (out.size() - lineStart > width) {
            // Break at the last blank within the width, or hard at the width when a word is longer.
            size_t cut = out.rfind(u' ', lineStart + width);
            if (cut == std::u16string::npos || cut < lineStart) {
                out.insert(lineStart + width, u"\r\n");
            } else {
                out.replace(cut, 1, u"\r\n");
            }
            lineStart = out.find(u"\r\n", lineStart) + 2;
        }
    };
    for (const Piece& piece : pieces) {
        if (piece.hardBreak) {
            hardBreak();
            continue;
        }
        std::u16string text = piece.insert ? (ignoreInserts ? piece.original : inserts[piece.insert]) : piece.text;
        if (width == 0) {
            out += text;
            continue;
        }
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\r' || text[i] == u'\n') {
                if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                    ++i;
                out += u' ';
            } else {
                out += text[i];
            }
        }
        wrap();
    }
    return out;
}

} // namespace

std::string ErrorText(DWORD code) {
    const char16_t* text = SystemTextOf(code);
    std::string line = text ? Utf16ToUtf8(text) : std::string("Unknown error.");
    return line + " (error " + std::to_string(code) + ")";
}

} // namespace platform

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                     va_list* arguments) {
    using namespace platform;
    const bool fromString = flags & FORMAT_MESSAGE_FROM_STRING;
    const bool fromSystem = flags & FORMAT_MESSAGE_FROM_SYSTEM;
    const bool fromModule = flags & FORMAT_MESSAGE_FROM_HMODULE;
    if (!buffer || (fromString && (fromSystem || fromModule)) || (!fromString && !fromSystem && !fromModule)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string message;
    if (fromString) {
        if (!source) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        message = static_cast<const WCHAR*>(source);
    } else {
        if (fromModule && !fromSystem) {
            SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
            return 0;
        }
        if (!IsEnglishOrNeutral(languageId)) {
            SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
            return 0;
        }
        const char16_t* text = SystemTextOf(messageId);
        if (!text) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        message = text;
        message += u"\r\n";
    }

    const std::vector<Piece> pieces = Parse(message);
    const bool ignoreInserts = flags & FORMAT_MESSAGE_IGNORE_INSERTS;
    std::vector<std::u16string> inserts(100);
    if (!ignoreInserts) {
        // Each insert number takes the format of its first use; the arguments are read in number order.
        std::vector<const InsertFormat*> formats(100, nullptr);
        int highest = 0;
        for (const Piece& piece : pieces)
            if (piece.insert) {
                if (!formats[piece.insert])
                    formats[piece.insert] = &piece.format;
                highest = std::max(highest, piece.insert);
            }
        if (highest > 0 && !arguments) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const InsertFormat plain;
        for (int n = 1; n <= highest; ++n) {
            const InsertFormat& format = formats[n] ? *formats[n] : plain;
            ULONG_PTR value = 0;
            if (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY)
                value = reinterpret_cast<const ULONG_PTR*>(arguments)[n - 1];
            else if (format.String() || !formats[n])
                value = reinterpret_cast<ULONG_PTR>(va_arg(*arguments, const void*));
            else if (format.Wide64())
                value = static_cast<ULONG_PTR>(va_arg(*arguments, unsigned long long));
            else
                value = static_cast<unsigned int>(va_arg(*arguments, unsigned int));
            if (formats[n])
                inserts[n] = FormatInsert(format, value);
        }
    }
    const std::u16string text = Layout(pieces, inserts, flags & FORMAT_MESSAGE_MAX_WIDTH_MASK, ignoreInserts);

    const DWORD length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        const DWORD chars = std::max<DWORD>(size, length + 1);
        auto* block = static_cast<WCHAR*>(static_cast<void*>(LocalAlloc(LPTR, chars * sizeof(WCHAR))));
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(block, text.data(), length * sizeof(WCHAR));
        *reinterpret_cast<LPWSTR*>(buffer) = block;
        return length;
    }
    if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.data(), length * sizeof(WCHAR));
    buffer[length] = 0;
    return length;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    void* block = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!block)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return static_cast<HLOCAL>(block);
}

HLOCAL LocalFree(LPVOID memory) {
    std::free(memory);
    return nullptr;
}
