// The companion program Enclosure: its one application object. The framework's program entry runs it.
#include "enclosure/EnclosureApp.h"

CEnclosureApp theApp;
