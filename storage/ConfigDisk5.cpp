#include "storage/ConfigDisk5.h"

IMPLEMENT_DYNAMIC(CConfigDisk5, CWizardPage)
