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
#include "platform/afx/OleDateTime.h"
#include "platform/afx/Time.h"
#include "platform/afx/TimeSpan.h"

#if __has_include("platform/ui/window.h")
#include "platform/afx/Button.h"
#include "platform/afx/CmdTarget.h"
#include "platform/afx/ComboBox.h"
#include "platform/afx/DataExchange.h"
#include "platform/afx/Dialog.h"
#include "platform/afx/Edit.h"
#include "platform/afx/FileDialog.h"
#include "platform/afx/ListBox.h"
#include "platform/afx/OleDispatchDriver.h"
#include "platform/afx/OleInit.h"
#include "platform/afx/OleObjectFactory.h"
#include "platform/afx/ScrollBar.h"
#include "platform/afx/Static.h"
#include "platform/afx/WinApp.h"
#include "platform/afx/WinThread.h"
#include "platform/afx/Wnd.h"
#include "platform/ui/commdlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/timer.h"
#include "platform/ui/tray.h"
#include "platform/ui/window.h"
#endif
#if __has_include("platform/ui/window.h") && __has_include("platform/gdi/wingdi.h")
#include "platform/afx/ClientDC.h"
#include "platform/afx/DC.h"
#include "platform/afx/GdiObject.h"
#include "platform/afx/DateTimeCtrl.h"
#include "platform/afx/HeaderCtrl.h"
#include "platform/afx/ImageList.h"
#include "platform/afx/ListCtrl.h"
#include "platform/afx/Menu.h"
#include "platform/afx/PaintDC.h"
#include "platform/afx/Point.h"
#include "platform/afx/ProgressCtrl.h"
#include "platform/afx/Rect.h"
#include "platform/afx/Size.h"
#include "platform/afx/SliderCtrl.h"
#include "platform/afx/SpinButtonCtrl.h"
#include "platform/afx/AnimateCtrl.h"
#include "platform/afx/TabCtrl.h"
#include "platform/afx/ToolTipCtrl.h"
#include "platform/afx/TreeCtrl.h"
#include "platform/afx/WindowDC.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint.h"
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
