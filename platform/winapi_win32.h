// <windows.h> without the macros that rename the core's own functions (DeleteFile, AnsiToOem, OemToAnsi).
#pragma once

#include <windows.h>

#undef DeleteFile
#undef AnsiToOem
#undef OemToAnsi
#undef CreateFile
#undef RegOpenKey
