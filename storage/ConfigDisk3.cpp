#include "storage/ConfigDisk3.h"

IMPLEMENT_DYNAMIC(CConfigDisk3, CWizardPage)
