/* Forced into failure.cpp of the fault variants of the stub (see CMakeLists.txt); active in the
 * report-fault variant only: the memory query of the internal-error report raises a second
 * internal error, as a failed format of a report line would. Its look-up of the newer query
 * finds nothing, so the older one, the hook, runs. The shipped stub never sees this header. */
#ifndef TVSFX_REPORT_FAULT_H
#define TVSFX_REPORT_FAULT_H

#include <windows.h>

#ifdef TVSFX_REPORT_FAULT
void report_fault_memory_status(MEMORYSTATUS *status);
FARPROC report_fault_no_procedure(const char *name);
#define GlobalMemoryStatus report_fault_memory_status
#define kernel_procedure report_fault_no_procedure
#endif

#endif
