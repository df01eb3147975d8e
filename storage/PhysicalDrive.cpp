#include "storage/PhysicalDrive.h"

IMPLEMENT_DYNAMIC(CPhysicalDrive, CDiskDrive)
