// Replays stored fuzzer findings without libFuzzer: every regular file directly inside each
// folder named on the command line goes once through LLVMFuzzerTestOneInput, the very checks
// the fuzzer makes (they abort on a failure). Dot files (.keep) and subfolders are skipped:
// a subfolder holds the findings of another fuzz target, replayed by its own program.
// Linked with a fuzz target's source into a plain executable, so `make test` replays every
// finding natively; a file dropped into the folder is picked up at the next run.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size);

namespace {

bool read_whole_file(const std::filesystem::path& path, std::vector<uint8_t>* bytes)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    bytes->clear();
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->insert(bytes->end(), buffer, buffer + got);
    bool ok = !ferror(file);
    fclose(file);
    return ok;
}

std::vector<std::filesystem::path> findings_in(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(folder))
        if (item.is_regular_file() && item.path().filename().c_str()[0] != '.')  // .keep
            files.push_back(item.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
        return 2;
    }
    size_t replayed = 0;
    std::vector<uint8_t> bytes;
    for (int i = 1; i < argc; i++) {
        std::error_code error;
        if (!std::filesystem::is_directory(argv[i], error)) {
            fprintf(stderr, "%s: not a folder\n", argv[i]);
            return 2;
        }
        for (const auto& path : findings_in(argv[i])) {
            if (!read_whole_file(path, &bytes)) {
                fprintf(stderr, "%s: cannot read\n", path.c_str());
                return 2;
            }
            // Printed first, so a check that aborts is seen with the file that tripped it.
            printf("replay %s (%zu bytes)\n", path.c_str(), bytes.size());
            fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            replayed++;
        }
    }
    printf("%zu finding(s) replayed, all checks held\n", replayed);
    return 0;
}
