#include "engine/BackAgent.h"

IMPLEMENT_DYNAMIC(CBackAgent, CObject)
