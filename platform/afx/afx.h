// The application framework: one header for everything a framework program uses.
//
// Stands in for the framework's umbrella header. Each class lives in a header named after it without its leading
// "C" (CObject in Object.h, CString in String.h, CWinApp in WinApp.h); this header includes them all, together
// with the layer's Win32 headers that framework programs rely on. ASSERT, VERIFY and TRACE behave as in the
// framework's debug build: ASSERT checks with assert, VERIFY always evaluates, TRACE formats with the layer's
// formatter and writes through OutputDebugStringW.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/format.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/base/types.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/res/resources.h"

#include "platform/afx/Array.h"
#include "platform/afx/CriticalSection.h"
#include "platform/afx/DWordArray.h"
#include "platform/afx/Event.h"
#include "platform/afx/Exception.h"
#include "platform/afx/File.h"
#include "platform/afx/FileException.h"
#include "platform/afx/FileFind.h"
#include "platform/afx/List.h"
#include "platform/afx/Map.h"
#include "platform/afx/MapPtrToPtr.h"
#include "platform/afx/MapStringToPtr.h"
#include "platform/afx/MapStringToString.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/ObArray.h"
#include "platform/afx/ObList.h"
#include "platform/afx/Object.h"
#include "platform/afx/PtrArray.h"
#include "platform/afx/PtrList.h"
#include "platform/afx/SingleLock.h"
#include "platform/afx/StdioFile.h"
#include "platform/afx/String.h"
#include "platform/afx/StringArray.h"
#include "platform/afx/StringList.h"
#include "platform/afx/SyncObject.h"
#include "platform/afx/Time.h"
#include "platform/afx/TimeSpan.h"

#if __has_include("platform/ui/window.h")
#include "platform/afx/CmdTarget.h"
#include "platform/afx/WinApp.h"
#include "platform/afx/WinThread.h"
#include "platform/afx/Wnd.h"
#include "platform/ui/message.h"
#include "platform/ui/timer.h"
#include "platform/ui/window.h"
#endif

#include <cassert>

#define ASSERT(f) assert(f)
#define VERIFY(f) ((void)(f))
#define ASSERT_VALID(p) assert((p) != nullptr)
#define ASSERT_KINDOF(class_name, object) assert((object)->IsKindOf(RUNTIME_CLASS(class_name)))
#define afx_msg
#define AFXAPI

void AfxTrace(LPCTSTR lpszFormat, ...);
#define TRACE AfxTrace
#define TRACE0(sz) AfxTrace(u"%s", u##sz)
