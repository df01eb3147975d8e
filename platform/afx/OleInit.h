// AfxOleInit: OLE for a framework program's main thread.
//
// The same as the framework: AfxOleInit initialises OLE on the calling thread (OleInitialize) and answers FALSE
// when that fails; the framework's program sequence (AfxWinMain) uninitialises it once the program has ended, so a
// program never calls OleUninitialize itself. Call it from the thread that runs the application object.
#pragma once

#include "platform/base/types.h"

BOOL AfxOleInit();

namespace platform::afx {

// Undoes what AfxOleInit did on the calling thread; AfxWinMain calls it last.
void OleTerm();

} // namespace platform::afx
