// Compresses the files of a folder input on several threads while the archive is written.
// Each file is compressed on its own, so the bytes do not depend on the number of threads
// or on which thread took which file; the writer takes the results in entry order.
#ifndef TVSFX_PARALLEL_COMPRESS_H
#define TVSFX_PARALLEL_COMPRESS_H

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "archive.h"
#include "file_compress.h"

class BuildProgress;

// The number of threads -j defaults to: one per core this process may run on.
unsigned default_jobs();

class CompressionPool {
public:
    // Gives every entry an open_payload that reports to `progress`; entries with a
    // a source_file get theirs from the pool. With jobs == 1 the files are compressed one by
    // one as the writer asks for them, on the writer's thread.
    CompressionPool(std::vector<ArchiveEntry>& entries, Compression how, unsigned jobs, BuildProgress& progress);
    // Stops the threads (after the file each is working on) when the build failed early.
    ~CompressionPool();
    CompressionPool(const CompressionPool&) = delete;
    CompressionPool& operator=(const CompressionPool&) = delete;

private:
    struct Job {
        WalkedFile file;
        std::string label;
        uint64_t size;
        uint64_t cost;  // memory held from the start of compressing until the writer takes it
        CompressedFile result;
        std::exception_ptr error;
        bool done = false;
    };

    CompressedFile take(size_t job);
    void run_jobs();
    bool may_start_next() const;

    Compression how_;
    std::vector<Job> jobs_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;     // the next job to start
    size_t taken_ = 0;    // jobs the writer has taken
    uint64_t held_ = 0;   // memory cost of jobs started and not yet taken
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

#endif
