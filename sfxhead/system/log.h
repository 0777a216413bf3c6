// The outcome of the program as its exit code, silent mode, and the log file that "-log="
// names: one UTF-8 line per extracted file, per message and for the outcome, appended.
#ifndef TVSFX_LOG_H
#define TVSFX_LOG_H

// Exit codes. A script tells them apart; the first failure of a run decides.
enum ExitCode {
    EXIT_DONE = 0,            // did what was asked (or only showed "-info", the usage, the dialog)
    EXIT_INTERNAL_ERROR = 1,  // a fault of the program itself (report file TVSFX32.RPT)
    EXIT_FAILED = 2,          // an error message ended the run (or a command could not start)
    EXIT_DECLINED = 3,        // the user said No or Cancel
};

extern int exit_code;    // the outcome so far; EXIT_DONE at start
extern int silent_mode;  // "-silent": no window at all, every message goes to the log

struct TextSet;
// The language of the log's words (German until set).
void set_log_language(const TextSet* set);
// Opens (or creates) the log file for appending; false when it cannot be opened.
bool open_log(const char* path);
// One line "Meldung: text" (a message that is, or in silent mode would be, a box).
void log_message(const char* text);
// One line "Datei: path" for a file extracted completely.
void log_extracted(const char* path);
// Why the clean-up left a path this run created.
enum LeftBehind {
    LEFT_AT_RESTART,    // "Beim Neustart entfernen: ": scheduled for the next restart
    LEFT_NOT_REMOVED,   // "Nicht entfernt: ": in use, and the system refused the schedule
    LEFT_NOT_EMPTY,     // "Nicht entfernt, Ordner nicht leer: ": a folder holding what the run did not make
    LEFT_LINK,          // "Nicht entfernt, Verknüpfung: ": now a link, junction or other reparse point
    LEFT_REPLACED,      // "Nicht entfernt, ausgetauscht: ": something else stands at the path now
    LEFT_GONE,          // "Nicht mehr vorhanden: ": moved away or removed by the command
};
// One line for a created path the clean-up did not remove, with the reason.
void log_left_behind(const char* path, LeftBehind reason);
// One line "Ordner: path" for the folder of its own a run made in the temporary folder.
void log_private_folder(const char* path);
// One line saying that -silent took the licence as accepted.
void log_license_accepted();
// Writes the outcome line "Ende: Exitcode n" and returns code.
int log_outcome(int code);

#endif
