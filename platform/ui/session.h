// The end of the user's session: WM_QUERYENDSESSION and WM_ENDSESSION.
//
// Stands in for Windows ending a log-on or shutting down. The same as Windows: every top-level window of the process
// (hidden ones too, on its own thread) is asked WM_QUERYENDSESSION; when all agree each hears WM_ENDSESSION with
// TRUE and the program is expected to end; when one refuses the session goes on and the windows asked hear
// WM_ENDSESSION with FALSE. lParam is ENDSESSION_LOGOFF for a log-out and 0 for a shutdown. A window whose thread does
// not answer within five seconds counts as agreeing.
//
// Where it differs: two things end a session here. SIGTERM is a shutdown: once a process has a top-level window the
// layer takes SIGTERM (unless the program installed a handler of its own); the desktop's log-out reaches the layer
// through the X session management protocol when the environment names a session manager (SESSION_MANAGER). A
// process whose session ended and that is still running after a grace time is ended by the layer (exit code 143
// after SIGTERM, 0 after a log-out); WINLAYER_SESSION_END_GRACE_MS sets the grace time (10000 by default).
#pragma once

#include "platform/base/types.h"

namespace platform::ui {

// Asks and tells every top-level window of the process as the end of a session does; TRUE when it ended (every
// window agreed). Call it from a thread that owns no window, or the windows of that thread are asked directly.
BOOL EndSession(LPARAM reason);

// Starts watching for SIGTERM and the session manager (once per process; the window layer does it when the first
// top-level window is created).
void WatchSessionEnd();

} // namespace platform::ui
