// The output .exe is written to a temporary file beside its final path and renamed into
// place only when complete, so a failed build never leaves a partial or broken file; on
// any of CLEANUP_SIGNALS the temporary files and folders are removed before the builder ends.
#ifndef TVSFX_OUTPUT_FILE_H
#define TVSFX_OUTPUT_FILE_H

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// The signals that end a build with its temporary files and folders removed: those a
// terminal, a service manager or a user sends to stop a program.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Holds CLEANUP_SIGNALS back on this thread while it lives: around making a temporary file
// or folder and registering it, and for threads that must leave the clean-up to the thread
// that writes the output (threads started while it lives inherit the held signals).
class CleanupSignalHold {
public:
    CleanupSignalHold();
    ~CleanupSignalHold();
    CleanupSignalHold(const CleanupSignalHold&) = delete;
    CleanupSignalHold& operator=(const CleanupSignalHold&) = delete;

private:
    sigset_t previous_;
};

// A folder the signal handler removes: a work folder with whatever it holds (two levels of
// folders at most), or a folder the build made, only while it is empty.
enum FolderCleanup { FOLDER_TREE = 1, FOLDER_EMPTY_ONLY = 2 };
// Register while CleanupSignalHold holds the signals, right after making the folder.
void register_temp_folder(const std::string& path, FolderCleanup kind);
void release_temp_folder(const std::string& path);

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

    // Flushes, sets the permissions (those of the file it replaces, else executable as the
    // umask allows) and renames it to the final path. `verify`, when given, reads the closed
    // file under its temporary name first and throws to keep it from the final path.
    void commit(const std::function<void(const std::string& written_path)>& verify = nullptr);

private:
    std::string final_path_;
    std::string temp_path_;
    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    bool at_end_ = true;
    bool keep_mode_ = false;  // an existing output's permissions are taken over
    unsigned mode_ = 0;
};

// Refuses an output path that would destroy something else: a device, FIFO or socket, the
// input itself, or a place inside the input folder (the next build would pack this one).
void check_output_target(const std::string& output, const std::string& input);

// Refuses an output that is the stub itself (the same file under any name).
void check_output_not_stub(const std::string& output, const std::string& stub);

// Large intermediate data (a file too big to compress in memory) goes to an unnamed file in
// the output's folder: there is room where the output goes, and nothing is left behind.
void set_scratch_folder(const std::string& folder);
std::FILE* create_scratch_file();

// The folder part of a path ("." when it has none).
std::string folder_of(const std::string& path);

#endif
