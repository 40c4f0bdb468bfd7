// Defines the identifier zvoffline.h adds; zvatrun.h's are defined with the library's code.
#include "zvatrun.h"

#include <initguid.h>

#include "zvoffline.h"
