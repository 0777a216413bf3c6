#include "source_date.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "build_error.h"

namespace {

// False when the variable is unset or empty.
bool source_date_epoch(time_t& epoch)
{
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (*text < '0' || *text > '9' || *end != '\0' || errno != 0 || time_t(value) != value)
        fail(std::string("SOURCE_DATE_EPOCH must be a whole number of seconds since 1970, not '") + text + "'");
    epoch = time_t(value);
    return true;
}

}  // namespace

void break_down_file_time(time_t modified, struct tm& fields)
{
    time_t even = (modified + 1) & ~time_t(1);
    time_t epoch = 0;
    if (!source_date_epoch(epoch)) {
        localtime_r(&even, &fields);
        return;
    }
    time_t cap = epoch & ~time_t(1);
    time_t capped = even < cap ? even : cap;
    gmtime_r(&capped, &fields);
}

time_t capped_file_time(time_t modified)
{
    time_t epoch = 0;
    return source_date_epoch(epoch) && epoch < modified ? epoch : modified;
}
