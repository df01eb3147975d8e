#include "engine/ActivityNotice.h"

// The main menu dialog keeps no activity counter yet: nobody is told.
void TellActivity(int, BOOL) {}
