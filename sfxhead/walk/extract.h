// The extraction run: every entry of the archive, in archive order, into the target folder.
#ifndef TVSFX_EXTRACT_H
#define TVSFX_EXTRACT_H

// Runs the whole archive; 0 when the end was reached, else the abort value (1 cancelled at
// an overwrite question, 2 fatal error, abandoned disk prompt or confirmed cancel).
int extract_all();
// Handles one entry whose local header signature the walk has just read.
void extract_entry();
// Joins the target folder and the entry name into the output path (in entry_name).
void make_output_path();
// Creates every missing folder of the entry's path.
void create_entry_folders();
// True: extract the entry; false: step over it. Cancel ends the whole run.
bool confirm_overwrite();

#endif
