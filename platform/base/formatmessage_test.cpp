#include "platform/base/formatmessage.h"

#include "platform/base/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kUserDefault = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

std::u16string SystemText(DWORD code, DWORD extraFlags = 0, DWORD language = kUserDefault) {
    WCHAR buffer[260] = {};
    const DWORD n = FormatMessageW(kSystem | extraFlags, nullptr, code, language, buffer, 260, nullptr);
    EXPECT_EQ(n, std::char_traits<char16_t>::length(buffer));
    return std::u16string(buffer, n);
}

// Formats through a va_list, as callers with a variable argument list do.
std::u16string FromString(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    WCHAR buffer[128] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, format, 0, 0, buffer, 128, &args);
    va_end(args);
    return std::u16string(buffer, n);
}

TEST(FormatMessage, SystemTextsOfTheLayersCodes) {
    struct Case {
        DWORD code;
        std::u16string text;
    };
    const Case cases[] = {
        {ERROR_SUCCESS, u"The operation completed successfully.\r\n"},
        {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
        {ERROR_SHARING_VIOLATION,
         u"The process cannot access the file because it is being used by another process.\r\n"},
        {ERROR_INVALID_PASSWORD, u"The specified network password is not correct.\r\n"},
        {ERROR_TIMER_NOT_FOUND, u"Timer not found.\r\n"},
        // Inserts of a system text stay as they are.
        {ERROR_MR_MID_NOT_FOUND,
         u"The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(SystemText(c.code), c.text);
    }
    // Neutral and English languages answer; others are not there.
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0, 0), u"Access is denied.\r\n");
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, 0, 0x0409), u"Access is denied.\r\n");
    WCHAR buffer[260];
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_ACCESS_DENIED, 0x0411, buffer, 260, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, 0xBADC0DE, 0, buffer, 260, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

TEST(FormatMessage, BuffersOfTheCallerAndAllocatedOnes) {
    // "Access is denied.\r\n" is 19 characters: 20 fit with the terminator, 19 do not.
    WCHAR buffer[20];
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 20, nullptr), 19u);
    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_ACCESS_DENIED, 0, buffer, 19, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    LPWSTR allocated = nullptr;
    const DWORD n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_PATH_NOT_FOUND, 0,
                                   reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::u16string(allocated, n), u"The system cannot find the path specified.\r\n");
    EXPECT_EQ(allocated[n], 0);
    EXPECT_EQ(LocalFree(allocated), nullptr);

    EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_ACCESS_DENIED, 0, nullptr, 20, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageW(kSystem | FORMAT_MESSAGE_FROM_STRING, u"x", 0, 0, buffer, 20, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FormatMessage, InsertsAndEscapes) {
    // From an argument array, in any order, each with its own format.
    const DWORD_PTR array[] = {5, reinterpret_cast<DWORD_PTR>(u"C:"), 0x2a};
    WCHAR buffer[128];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             u"%2 holds %1!d! files (%3!04X!)%n100%% done%.%!%tend%0 ignored", 0, 0, buffer, 128,
                             reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(array)));
    EXPECT_EQ(std::u16string(buffer, n), u"C: holds 5 files (002A)\r\n100% done.!\tend");

    // From a variable argument list, read in insert-number order whatever the text's order.
    EXPECT_EQ(FromString(u"%3 %1!u! %2", 7u, u"two", u"three"), u"three 7 two");
    EXPECT_EQ(FromString(u"%1!I64d! bytes", 5000000000LL), u"5000000000 bytes");

    // Without arguments an insert cannot be filled; IGNORE_INSERTS copies it.
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_STRING, u"%1", 0, 0, buffer, 128, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, u"a %1!d! b", 0, 0, buffer, 128,
                       nullptr);
    EXPECT_EQ(std::u16string(buffer, n), u"a %1!d! b");
}

TEST(FormatMessage, LineWidths) {
    const std::u16string twoLines = u"The volume does not contain a recognized file system.\r\nPlease make sure that "
                                    u"all required file system drivers are loaded and that the volume is not "
                                    u"corrupted.";
    EXPECT_EQ(SystemText(ERROR_UNRECOGNIZED_VOLUME), twoLines + u"\r\n");
    // The text's own line breaks become blanks; hard breaks stay.
    EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED, FORMAT_MESSAGE_MAX_WIDTH_MASK), u"Access is denied. ");
    std::u16string joined = twoLines + u" ";
    joined.replace(joined.find(u"\r\n"), 2, u" ");
    EXPECT_EQ(SystemText(ERROR_UNRECOGNIZED_VOLUME, FORMAT_MESSAGE_MAX_WIDTH_MASK), joined);
    WCHAR buffer[64];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_MAX_WIDTH_MASK, u"one\r\ntwo%nthree", 0, 0,
                             buffer, 64, nullptr);
    EXPECT_EQ(std::u16string(buffer, n), u"one two\r\nthree");
    // A width wraps at the last blank that fits, or inside a word longer than the width.
    n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | 10, u"Access is denied to abcdefghijklmn", 0, 0, buffer, 64,
                       nullptr);
    EXPECT_EQ(std::u16string(buffer, n), u"Access is\r\ndenied to\r\nabcdefghij\r\nklmn");
}

} // namespace

TEST(FormatMessage, ErrorTextGivesTheSystemTextWithTheCode) {
    EXPECT_EQ(platform::ErrorText(2), "The system cannot find the file specified. (error 2)");
    EXPECT_EQ(platform::ErrorText(55), "The specified network resource or device is no longer available. (error 55)");
    EXPECT_EQ(platform::ErrorText(0xDEAD), "Unknown error. (error 57005)");
}
