// The fault of the write-fault variant of the stub: an internal error right after the first
// bytes of an entry reached its output file. 2353 is the line a failed format of the
// write-error message gives, the internal error nearest to a write.
#include "write_fault.h"

#include "failure.h"

#undef _lwrite  // the real call, for the bytes written before the fault

UINT write_fault_write(HFILE file, LPCCH buffer, UINT count)
{
    _lwrite(file, buffer, count);
    internal_error_at(2353);
}
