// The interface identifiers of zvatrun.h and zvoffline.h, defined once for the host.
#include <initguid.h>

#include "zvatrun.h"
#include "zvoffline.h"
