#include "platform/afx/OleInit.h"

#include "platform/com/objbase.h"

namespace {

// Successful initialisations of this thread that the framework undoes at the end.
thread_local int t_oleInits = 0;

} // namespace

BOOL AfxOleInit() {
    if (FAILED(OleInitialize(nullptr)))
        return FALSE;
    ++t_oleInits;
    return TRUE;
}

namespace platform::afx {

void OleTerm() {
    for (; t_oleInits > 0; --t_oleInits)
        OleUninitialize();
}

} // namespace platform::afx
