// File times of a folder input and SOURCE_DATE_EPOCH, the variable reproducible-build tools
// set to the time of the sources: when it is set, no file time is later than it and the
// times are taken as UTC, so the same folder gives the same bytes on every machine and in
// every time zone. Without it, times are local, as ZIP tools write them.
#ifndef TVSFX_SOURCE_DATE_H
#define TVSFX_SOURCE_DATE_H

#include <ctime>

// The calendar fields of a modification time as the DOS time stamp gets them: odd seconds
// rounded up to the next even one, then capped by SOURCE_DATE_EPOCH (rounded down to even)
// when it is set. Throws BuildError when SOURCE_DATE_EPOCH is not a number of seconds.
void break_down_file_time(time_t modified, struct tm& fields);

// The modification time an exact time field carries: the file's own second, capped by
// SOURCE_DATE_EPOCH when it is set.
time_t capped_file_time(time_t modified);

#endif
