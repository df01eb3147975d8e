#include "storage/ConfigDisk4.h"

IMPLEMENT_DYNAMIC(CConfigDisk4, CWizardPage)
