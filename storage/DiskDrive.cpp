#include "storage/DiskDrive.h"

IMPLEMENT_DYNAMIC(CDiskDrive, CObject)
