// The main program Kovra: its one application object. The framework's program entry runs it.
#include "app/BrannicApp.h"

CBrannicApp theApp;
