/* Forced into pipeline.cpp of the fault variants of the stub (see CMakeLists.txt); active in the
 * write-fault variant only: the first write of an entry's data writes its bytes and then raises
 * an internal error, so the run ends while the output file is half written. The shipped stub
 * never sees this header. */
#ifndef TVSFX_WRITE_FAULT_H
#define TVSFX_WRITE_FAULT_H

#include <windows.h>

#ifdef TVSFX_WRITE_FAULT
UINT write_fault_write(HFILE file, LPCCH buffer, UINT count);
#define _lwrite write_fault_write
#endif

#endif
