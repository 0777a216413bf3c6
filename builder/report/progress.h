// The build's progress line: on a terminal, one line on stderr that is redrawn in place
// with files and bytes done, the speed and the time left. It appears only once a build has
// run for a second, so quick builds print nothing of it, and it is cleared at the end.
#ifndef TVSFX_PROGRESS_H
#define TVSFX_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>

// True when stderr is a terminal and --quiet was not given.
bool progress_wanted(bool quiet);

class BuildProgress {
public:
    BuildProgress(bool enabled, size_t total_files, uint64_t total_bytes);
    ~BuildProgress();
    BuildProgress(const BuildProgress&) = delete;
    BuildProgress& operator=(const BuildProgress&) = delete;

    // One more file done, of `bytes` bytes before compression.
    void advance(uint64_t bytes);
    // Clears the line, if one was drawn.
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void draw(double elapsed);

    bool enabled_;
    size_t total_files_;
    uint64_t total_bytes_;
    size_t files_done_ = 0;
    uint64_t bytes_done_ = 0;
    Clock::time_point start_;
    double delay_;             // seconds before the line first appears
    double last_draw_ = -1.0;  // seconds since start of the last redraw; -1 never drawn
};

#endif
