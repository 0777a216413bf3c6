// Calls that some supported Windows versions lack (Windows 95, 98 and NT 4 most of all) are
// looked up at run time, so the stub still loads there and takes its older way instead.
#ifndef TVSFX_SYSTEM_H
#define TVSFX_SYSTEM_H

#include <windows.h>

// The kernel32 function of that name, or NULL where the system has none.
FARPROC kernel_procedure(const char* name);
// The same for advapi32 (security descriptors, the random source).
FARPROC advapi_procedure(const char* name);

// Takes the program's own folder (usually Downloads) and the current directory out of the
// search for DLLs that the system loads later at run time, so a DLL planted beside the package
// is never loaded in place of a system one. Must run before anything can load a DLL.
void restrict_dll_search();

#endif
