// Private: the device notices as the kernel host raises them. Every program that registered for device notices
// (RegisterDeviceNotificationW) holds a connection to the host; a notice goes to each of them and each delivers
// it to its own windows. Arrivals and completed removals are queued and need no answer; a query is sent to all
// and waited for (bounded), and any refusal refuses it.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

namespace platform::devices {

struct DeviceNotice {
    uint32_t event = 0;          // DBT_* code
    uint32_t kind = 0;           // DBT_DEVTYP_VOLUME, DBT_DEVTYP_DEVICEINTERFACE or DBT_DEVTYP_HANDLE
    uint32_t unitMask = 0;       // volume
    uint32_t flags = 0;          // volume
    GUID classGuid{};            // interface
    std::u16string name;         // interface path, or the NT name of the device a handle notice is about
    uint32_t excludeProcess = 0; // a program that does not receive it (the sender of a broadcast), or 0
};

// Serves a subscriber's connection until it goes away.
void ServeSubscriber(int fd);
// Queues a notice for every subscriber.
void Announce(const DeviceNotice& notice);
// Sends a query to every subscriber and waits for the answers; false when one refused.
bool Query(const DeviceNotice& notice);
// Ends every subscriber's connection (the host is stopping).
void CloseSubscribers();

} // namespace platform::devices
