// Run-time library strings, pool allocation and the kernel debug print.
#include "platform/kernel/kernel_private.h"

#include "platform/base/format.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length) {
    const auto* a = static_cast<const UCHAR*>(source1);
    const auto* b = static_cast<const UCHAR*>(source2);
    SIZE_T i = 0;
    while (i < length && a[i] == b[i])
        ++i;
    return i;
}

void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
    destination->Buffer = const_cast<PWSTR>(source);
    if (!source) {
        destination->Length = destination->MaximumLength = 0;
        return;
    }
    size_t length = 0;
    while (source[length])
        ++length;
    if (length > 32766)
        length = 32766;
    destination->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    destination->MaximumLength = static_cast<USHORT>(destination->Length + sizeof(WCHAR));
}

void RtlInitAnsiString(PANSI_STRING destination, PCSTR source) {
    destination->Buffer = const_cast<PCHAR>(source);
    const size_t length = source ? strlen(source) : 0;
    destination->Length = static_cast<USHORT>(length);
    destination->MaximumLength = static_cast<USHORT>(source ? length + 1 : 0);
}

void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (!source || !source->Buffer) {
        destination->Length = 0;
        return;
    }
    const USHORT bytes = std::min(source->Length, destination->MaximumLength);
    memmove(destination->Buffer, source->Buffer, bytes);
    destination->Length = bytes;
    if (bytes + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[bytes / sizeof(WCHAR)] = 0;
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
    if (!source || !source->Length)
        return STATUS_SUCCESS;
    if (destination->Length + source->Length > destination->MaximumLength)
        return STATUS_BUFFER_TOO_SMALL;
    memmove(reinterpret_cast<char*>(destination->Buffer) + destination->Length, source->Buffer, source->Length);
    destination->Length = static_cast<USHORT>(destination->Length + source->Length);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength)
        destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
    UNICODE_STRING appended;
    RtlInitUnicodeString(&appended, source);
    return RtlAppendUnicodeStringToString(destination, &appended);
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
    const size_t lengthA = a->Length / sizeof(WCHAR);
    const size_t lengthB = b->Length / sizeof(WCHAR);
    for (size_t i = 0; i < lengthA && i < lengthB; ++i) {
        WCHAR ca = a->Buffer[i];
        WCHAR cb = b->Buffer[i];
        if (caseInsensitive) {
            ca = platform::FoldUpper(ca);
            cb = platform::FoldUpper(cb);
        }
        if (ca != cb)
            return static_cast<LONG>(ca) - static_cast<LONG>(cb);
    }
    return static_cast<LONG>(lengthA) - static_cast<LONG>(lengthB);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING a, PCUNICODE_STRING b, BOOLEAN caseInsensitive) {
    return a->Length == b->Length && RtlCompareUnicodeString(a, b, caseInsensitive) == 0;
}

BOOLEAN RtlPrefixUnicodeString(PCUNICODE_STRING prefix, PCUNICODE_STRING string, BOOLEAN caseInsensitive) {
    if (prefix->Length > string->Length)
        return FALSE;
    UNICODE_STRING head = *string;
    head.Length = prefix->Length;
    return RtlCompareUnicodeString(prefix, &head, caseInsensitive) == 0;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source, BOOLEAN allocate) {
    const std::string text =
        platform::Utf16ToUtf8(std::u16string_view(source->Buffer ? source->Buffer : u"", source->Length / 2));
    if (text.size() > 65534)
        return STATUS_INVALID_PARAMETER;
    if (allocate) {
        auto* buffer = static_cast<PCHAR>(ExAllocatePool(PagedPool, text.size() + 1));
        if (!buffer)
            return STATUS_NO_MEMORY;
        destination->Buffer = buffer;
        destination->MaximumLength = static_cast<USHORT>(text.size() + 1);
    } else if (text.size() > destination->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    memcpy(destination->Buffer, text.data(), text.size());
    if (text.size() < destination->MaximumLength)
        destination->Buffer[text.size()] = 0;
    destination->Length = static_cast<USHORT>(text.size());
    return STATUS_SUCCESS;
}

void RtlFreeAnsiString(PANSI_STRING string) {
    if (string && string->Buffer) {
        ExFreePool(string->Buffer);
        string->Buffer = nullptr;
        string->Length = string->MaximumLength = 0;
    }
}

void RtlFreeUnicodeString(PUNICODE_STRING string) {
    if (string && string->Buffer) {
        ExFreePool(string->Buffer);
        string->Buffer = nullptr;
        string->Length = string->MaximumLength = 0;
    }
}

ULONG RtlRandom(PULONG seed) {
    // A multiplicative congruential generator modulo 2^31 - 1 (Park and Miller).
    const uint64_t next = (static_cast<uint64_t>(*seed % 0x7FFFFFFFu) * 16807u) % 0x7FFFFFFFu;
    *seed = static_cast<ULONG>(next);
    return static_cast<ULONG>(next);
}

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T bytes, ULONG) {
    return malloc(bytes ? bytes : 1);
}
PVOID ExAllocatePool(POOL_TYPE type, SIZE_T bytes) {
    return ExAllocatePoolWithTag(type, bytes, 0);
}
void ExFreePoolWithTag(PVOID memory, ULONG) {
    free(memory);
}
void ExFreePool(PVOID memory) {
    free(memory);
}

namespace platform::kernel {

std::string DebugLogPath() {
    return platform::machine::PathOf("kernel/debug.log");
}

void DebugLogWrite(const std::string& text) {
    static std::mutex lock;
    std::lock_guard guard(lock);
    std::string line = text;
    if (line.empty() || line.back() != '\n')
        line += '\n';
    const std::string path = DebugLogPath();
    const std::string folder = path.substr(0, path.rfind('/'));
    mkdir(folder.c_str(), 0700);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ssize_t written = write(fd, line.data(), line.size());
        (void)written;
        close(fd);
    }
    if (getenv("WINLAYER_DEBUG"))
        fputs(line.c_str(), stderr);
}

} // namespace platform::kernel

ULONG vDbgPrintEx(ULONG, ULONG, PCSTR format, va_list arguments) {
    platform::kernel::DebugLogWrite(platform::FormatNarrowV(format, arguments));
    return STATUS_SUCCESS;
}

ULONG DbgPrintEx(ULONG componentId, ULONG level, PCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const ULONG result = vDbgPrintEx(componentId, level, format, arguments);
    va_end(arguments);
    return result;
}

ULONG DbgPrint(PCSTR format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const ULONG result = vDbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, format, arguments);
    va_end(arguments);
    return result;
}
