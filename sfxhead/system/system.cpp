// Run-time look-up of the newer kernel32 calls.
#include "system.h"

FARPROC kernel_procedure(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != NULL ? GetProcAddress(kernel, name) : NULL;
}
