#include "storage/ConfigDisk2.h"

IMPLEMENT_DYNAMIC(CConfigDisk2, CWizardPage)
