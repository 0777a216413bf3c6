// The current entry's output file. A new file is written where it belongs. An existing file
// is replaced all at once: the entry is written to a temporary file in the same folder, which
// takes the old file's place only after the entry has been written and checked, so a damaged,
// cut or cancelled entry never costs the user the file that was there.
#ifndef TVSFX_OUTPUT_FILE_H
#define TVSFX_OUTPUT_FILE_H

// Results of open_output_file.
enum OutputOpenResult {
    OUTPUT_OPENED = 0,
    OUTPUT_NO_FOLDER = 1,  // the file's folder does not exist (any more)
    OUTPUT_REFUSED = 2,    // cannot be created, or the existing file cannot be replaced
};

// Opens output_handle for writing the file path, or the temporary file that will replace it.
// An existing folder or read-only file of that name, or one that cannot be opened for writing,
// is refused before anything is written.
int open_output_file(const char* path);
// After the entry has been written, closed and checked: the temporary file, if any, takes the
// old file's place. False when that fails; the temporary file is then removed.
bool commit_output_file();
// After a failed entry (the abort path): closes output_handle and removes the temporary file.
// A new file stays as far as it was written.
void discard_output_file();

#endif
