// Run-time look-up of the newer kernel32 and advapi32 calls.
#include "system.h"

FARPROC kernel_procedure(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != NULL ? GetProcAddress(kernel, name) : NULL;
}

// advapi32 is among the program's imports, so it is loaded whenever the program runs.
FARPROC advapi_procedure(const char* name)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    return advapi != NULL ? GetProcAddress(advapi, name) : NULL;
}
