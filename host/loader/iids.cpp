// The interface identifiers of zvatrun.h, defined once for the host.
#include <initguid.h>

#include "zvatrun.h"
