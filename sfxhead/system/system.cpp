// Run-time look-up of the newer kernel32 and advapi32 calls, and the DLL search order.
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

// Not in every SDK header this builds with: the value of LOAD_LIBRARY_SEARCH_SYSTEM32.
enum : DWORD { SEARCH_SYSTEM32_ONLY = 0x00000800 };

typedef BOOL(WINAPI* DefaultDllDirectoriesCall)(DWORD);
typedef BOOL(WINAPI* DllDirectoryCall)(const char*);

// The statically imported DLLs are resolved before the entry point runs and are protected by
// other means (README, "Security"); this covers the ones loaded later, by name, from inside
// the system's own DLLs (uxtheme, version, userenv and the like). Windows 8 and later, and
// Windows 7 and Vista with update KB2533623, search System32 alone. Older systems from XP SP1
// on can only drop the current directory: the program's folder stays first in their search.
// Windows 9x, NT 4, 2000 and XP without SP1 have neither call and search the program's folder
// and the current directory as they always did.
void restrict_dll_search()
{
    DefaultDllDirectoriesCall set_default =
        (DefaultDllDirectoriesCall)(void*)kernel_procedure("SetDefaultDllDirectories");
    if (set_default != NULL && set_default(SEARCH_SYSTEM32_ONLY))
        return;
    DllDirectoryCall set_directory = (DllDirectoryCall)(void*)kernel_procedure("SetDllDirectoryA");
    if (set_directory != NULL)
        set_directory("");
}
