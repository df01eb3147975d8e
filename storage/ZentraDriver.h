// The virtual disk driver's client: installing the driver the program carries (resource "DRIVER" 300) as the
// demand-start kernel service "Zentra", and requests to its control device "\\.\VyxCtrl".
#pragma once

#include "platform/base/types.h"

constexpr UINT IDR_ZENTRA_DRIVER = 300;
#define ZENTRA_SERVICE_NAME u"Zentra"
#define ZENTRA_CONTROL_DEVICE u"\\\\.\\VyxCtrl"

// Writes the driver file to the temporary folder ("Zentra.sys"), creates the service (an existing one counts as
// created) and starts it (a running one counts as started); a service that does not start is deleted again. The
// driver file is deleted once the service no longer needs it. FALSE, with the last error set, when a step fails.
BOOL InstallDriver(LPCTSTR lpszServiceName);

// Opens the control device for one request and sends it; 0 or the Win32 error.
DWORD SendControl(DWORD dwCode, const void* pInput, DWORD dwInputLength, void* pOutput, DWORD dwOutputLength);
