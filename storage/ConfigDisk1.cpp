#include "storage/ConfigDisk1.h"

IMPLEMENT_DYNAMIC(CConfigDisk1, CWizardPage)
