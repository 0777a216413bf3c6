#include "progress.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// Redraws at most this often: fast enough to look alive, rare enough to cost nothing.
constexpr double REDRAW_INTERVAL = 0.25;
// Builds that end within this many seconds show no line at all. TVSFX_PROGRESS_DELAY
// overrides it (the terminal test sets 0, so its verdict does not depend on the speed).
constexpr double DEFAULT_DELAY = 1.0;

double delay_from_environment()
{
    const char* text = std::getenv("TVSFX_PROGRESS_DELAY");
    if (text == nullptr || *text == '\0')
        return DEFAULT_DELAY;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    return *end == '\0' && value >= 0 ? value : DEFAULT_DELAY;
}

void format_duration(char* text, size_t capacity, double seconds)
{
    long s = long(seconds + 0.5);
    if (s >= 3600)
        std::snprintf(text, capacity, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, capacity, "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

bool progress_wanted(bool quiet)
{
    return !quiet && isatty(STDERR_FILENO) == 1;
}

BuildProgress::BuildProgress(bool enabled, size_t total_files, uint64_t total_bytes)
    : enabled_(enabled), total_files_(total_files), total_bytes_(total_bytes), start_(Clock::now()),
      delay_(delay_from_environment())
{
}

BuildProgress::~BuildProgress()
{
    finish();
}

void BuildProgress::advance(uint64_t bytes)
{
    ++files_done_;
    bytes_done_ += bytes;
    if (!enabled_)
        return;
    double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    if (elapsed < delay_ || (last_draw_ >= 0 && elapsed - last_draw_ < REDRAW_INTERVAL && files_done_ < total_files_))
        return;
    draw(elapsed);
    last_draw_ = elapsed;
}

void BuildProgress::draw(double elapsed)
{
    double rate = elapsed > 0 ? double(bytes_done_) / elapsed : 0.0;
    char left[32] = "?";
    if (rate > 0)
        format_duration(left, sizeof left, double(total_bytes_ - bytes_done_) / rate);
    // \r returns to the line's start, \033[K clears what a longer earlier line left behind.
    std::fprintf(stderr, "\rtvsfx: %zu/%zu files, %.1f/%.1f MB, %.1f MB/s, %s left\033[K", files_done_, total_files_,
                 double(bytes_done_) / 1e6, double(total_bytes_) / 1e6, rate / 1e6, left);
    std::fflush(stderr);
}

void BuildProgress::finish()
{
    if (last_draw_ >= 0)
        std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    last_draw_ = -1.0;
    enabled_ = false;
}
