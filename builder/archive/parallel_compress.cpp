#include "parallel_compress.h"

#include <sched.h>

#include "output_file.h"
#include "progress.h"

namespace {

// Compressed files waiting for the writer, and files being compressed, may hold this much
// memory together (compress_memory_cost); the file the writer waits for always starts. With
// files of up to 64 MiB in memory this keeps the peak near 300 MB whatever the input size.
constexpr uint64_t MEMORY_BUDGET = 256u << 20;

}  // namespace

unsigned default_jobs()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return unsigned(CPU_COUNT(&set));
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 1;
}

CompressionPool::CompressionPool(std::vector<ArchiveEntry>& entries, Compression how, unsigned jobs,
                                 BuildProgress& progress)
    : how_(how)
{
    for (ArchiveEntry& e : entries) {
        BuildProgress* report = &progress;
        if (e.source_file.name.empty()) {
            auto open = e.open_payload;
            e.open_payload = [open, report](ArchiveEntry& entry) {
                PayloadReader reader = open ? open(entry) : PayloadReader([](uint8_t*, size_t) { return size_t(0); });
                report->advance(entry.uncompressed_size);
                return reader;
            };
            continue;
        }
        size_t index = jobs_.size();
        jobs_.push_back(Job{e.source_file, e.source_label, e.uncompressed_size,
                            compress_memory_cost(e.uncompressed_size, how), {}, nullptr, false});
        e.open_payload = [this, index, report](ArchiveEntry& entry) {
            CompressedFile c = take(index);
            entry.method = c.method;
            entry.version_needed = c.version_needed;
            entry.crc32 = c.crc32;
            entry.compressed_size = c.compressed_size;
            entry.uncompressed_size = c.uncompressed_size;
            report->advance(entry.uncompressed_size);
            return c.reader;
        };
    }
    if (jobs > 1 && jobs_.size() > 1) {
        // The writer's thread alone removes the temporary files on a signal: it is the one
        // that makes them, so no new one can appear while its handler runs.
        CleanupSignalHold hold;
        for (unsigned i = 0; i < jobs && i < jobs_.size(); ++i)
            threads_.emplace_back([this] { run_jobs(); });
    }
}

CompressionPool::~CompressionPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

bool CompressionPool::may_start_next() const
{
    return next_ == taken_ || held_ + jobs_[next_].cost <= MEMORY_BUDGET;
}

void CompressionPool::run_jobs()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || next_ >= jobs_.size() || may_start_next(); });
        if (stopping_ || next_ >= jobs_.size())
            return;
        Job& job = jobs_[next_++];
        held_ += job.cost;
        lock.unlock();
        try {
            job.result = compress_file(job.file, job.label, job.size, how_);
        } catch (...) {
            job.error = std::current_exception();
        }
        lock.lock();
        job.done = true;
        changed_.notify_all();
    }
}

CompressedFile CompressionPool::take(size_t index)
{
    Job& job = jobs_[index];
    if (threads_.empty()) {
        taken_ = index + 1;
        return compress_file(job.file, job.label, job.size, how_);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // The writer takes jobs in order; it has let go of the one before.
    taken_ = index;
    changed_.notify_all();
    changed_.wait(lock, [&job] { return job.done; });
    held_ -= job.cost;
    taken_ = index + 1;
    changed_.notify_all();
    if (job.error)
        std::rethrow_exception(job.error);
    return std::move(job.result);
}
