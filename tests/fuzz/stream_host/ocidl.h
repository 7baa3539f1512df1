// Host stand-in: everything the fuzz build needs is in the stand-in <windows.h>.
#pragma once

#include <windows.h>
