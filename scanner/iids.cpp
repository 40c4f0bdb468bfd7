// Defines the interface identifiers the public header declares.
#include <initguid.h>

#include "zvatrun.h"
