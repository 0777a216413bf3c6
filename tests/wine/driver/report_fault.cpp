// The fault of the report-fault variant of the stub: an internal error while the report of a
// first one is being written. 3272 is the line a failed format of the memory-load line gives.
#include "report_fault.h"

#include "failure.h"

void report_fault_memory_status(MEMORYSTATUS *)
{
    internal_error_at(3272);
}

FARPROC report_fault_no_procedure(const char *)
{
    return NULL;
}
