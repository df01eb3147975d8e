// The framework's module state: the program's instance handle and the module that resources come from.
//
// The resource handle starts as the program itself; a program that loads a language library makes that library
// the resource handle (AfxSetResourceHandle), and from then on CString::LoadString and every other framework
// resource lookup read that library's tables. The state is process-wide, as it is for a program's one module.
#pragma once

#include "platform/base/types.h"

HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hInstResource);
// The framework finds string, dialog and menu resources in the resource handle's module.
HINSTANCE AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType);
