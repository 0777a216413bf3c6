// The output .exe is written to a temporary file beside its final path and renamed into
// place only when complete, so a failed build never leaves a partial or broken file.
#ifndef TVSFX_OUTPUT_FILE_H
#define TVSFX_OUTPUT_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>

class OutputFile {
public:
    explicit OutputFile(const std::string& final_path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const void* data, size_t size);
    void write_at(uint64_t offset, const void* data, size_t size);
    uint64_t position() const { return position_; }
    // For reading the file back (the PE checksum); the write position is restored by
    // write_at and write, which always seek first after a read-back.
    std::FILE* stream();

    // Flushes, makes the file executable and renames it to the final path.
    void commit();

private:
    std::string final_path_;
    std::string temp_path_;
    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    bool at_end_ = true;
};

#endif
