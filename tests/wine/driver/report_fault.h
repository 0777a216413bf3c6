/* Forced into failure.cpp of the fault variants of the stub (see CMakeLists.txt); active in the
 * report-fault variant only: the memory query of the internal-error report raises a second
 * internal error, as a failed format of a report line would. The shipped stub never sees this
 * header. */
#ifndef TVSFX_REPORT_FAULT_H
#define TVSFX_REPORT_FAULT_H

#include <windows.h>

#ifdef TVSFX_REPORT_FAULT
void report_fault_memory_status(MEMORYSTATUS *status);
#define GlobalMemoryStatus report_fault_memory_status
#endif

#endif
