// The bridge-chip libraries: the entry points of "JMUsbDll.dll" (JMicron) and "sp216.dll" (Sunplus) as a program
// finds them with GetProcAddress.
//
// Stands in for the two chip makers' libraries, which are not part of the system. The same as theirs: the names,
// the arguments and the results a program relies on (see each declaration). Where they differ: the chips are
// simulated (enclosure_sim.h): a JMicron chip keeps 16-bit registers, a Sunplus chip eight one-byte pins, and both
// drive the LEDs and report the one-touch button of the enclosure that holds a plugged image disk.
#pragma once

#include "platform/base/types.h"

#include <cstdint>

namespace platform::usb {

// "JMUsbDll.dll".
// Writes the drive letters of the JMicron enclosures' volumes (one byte each); answers their number, -1 on failure.
using GetDriveListFn = int (*)(BYTE* letters, int size);
// Writes one entry of 70 bytes per JMicron enclosure (its USB id text, zero padded); answers their number.
using GetUsbIdListFn = int (*)(BYTE* entries, int count);
constexpr int kUsbIdEntrySize = 70;
// Fills `size` bytes of inquiry data for the drive; the first four bytes name the chip. 0 on success.
using JMInquiryFn = int (*)(BYTE letter, BYTE* buffer, int size);
// Runs one ATA pass-through command record of 24 bytes on the drive with `dataSize` data bytes read or written;
// byte 8 of the record holds a status afterwards. 0 on success.
using ATACBExecuteFn = int (*)(BYTE letter, BYTE* record, BYTE* data, int dataSize, int flags);
using ATACBExecuteExFn = int (*)(BYTE letter, BYTE* record, BYTE* data, int dataSize, int flags, int timeout);
using JMGetChipInfoFn = int (*)(BYTE letter, BYTE* buffer, int size);
constexpr int kAtacbRecordSize = 24;

// "sp216.dll".
// Opens the first device that matches a record of 52 bytes (vendor id text in bytes 0-11, product id text in bytes
// 12-51, both zero padded); answers its handle, or -1 when there is none.
using EnumDeviceHandleFn = intptr_t (*)(const BYTE* record, int count, int flags);
// Writes (write 1) or reads (write 0) one general-purpose pin; non-zero on success.
using SetGetGpioIndexFn = int (*)(BYTE pin, BYTE write, BYTE* value, intptr_t device);
using CloseDeviceFn = void (*)();
constexpr int kSunplusRecordSize = 52;

} // namespace platform::usb
