// Ids of the message table (texts in messages.txt). Message k is the NUL-terminated text at
// messages + message_offsets[k]; id MSG_MAIN_DIALOG is not a text but the main dialog template.
// The numbers are fixed: the table is stored in this order.
#ifndef TVSFX_MESSAGE_IDS_H
#define TVSFX_MESSAGE_IDS_H

enum MessageId {
    MSG_INCOMPLETE = 0,             // archive built incompletely (stub record not complete)
    MSG_INSERT_DISK = 1,            // %d disk number, %s drive
    MSG_INSERT_LAST_DISK = 2,       // %s drive
    MSG_NO_DISK = 3,                // %d disk number
    MSG_DISK_LABEL = 4,             // disk missing or wrongly labelled; %d disk number
    MSG_NO_PASSWORD = 5,
    MSG_WRONG_PASSWORD = 6,
    MSG_NOAUTO = 7,                 // command-line word that turns automatic mode off
    MSG_SETUP = 8,                  // "Setup"
    MSG_AUTO = 9,                   // command-line word that turns automatic mode on
    MSG_WINDOWS_VERSION = 10,       // Windows too old
    MSG_ASK_CANCEL = 11,            // question while extracting
    MSG_FILE_IN_USE = 12,           // %s file name
    MSG_EXTRACTION_CANCELLED = 13,
    MSG_COMMAND_FAILED = 14,        // %d error code, %s command
    MSG_CHANGE_FOLDER_FAILED = 15,
    MSG_ASK_OVERWRITE = 16,         // %s file name
    MSG_NO_FOLDER = 17,
    MSG_TEMP_SUFFIX = 18,           // "\TEMP"
    MSG_SHORT_NAMES = 19,           // system without long file names
    MSG_TEMP_ASSIGNMENT = 20,       // "TEMP="
    MSG_FILES_EXTRACTED = 21,       // %d file count
    MSG_EXTRACT_HINT = 22,          // %s archive description
    MSG_ARCHIVER_NAME = 23,         // "Tarvel"
    MSG_EXTENSIONS = 24,
    MSG_RUN_AFTER = 25,             // label of check box 111, followed by the command
    MSG_UNUSED_26 = 26,             // empty slot
    MSG_ARCHIVER_NOT_FOUND = 27,
    MSG_CREATE_OUTPUT_FAILED = 28,  // %s file name
    MSG_UNSUPPORTED_METHOD = 29,
    MSG_BAD_CRC = 30,               // %s file name
    MSG_BAD_HEADER = 31,
    MSG_CREATE_FOLDER_FAILED = 32,  // %s folder
    MSG_BAD_FOLDER_ARGUMENT = 33,
    MSG_EXTRACTING = 34,            // %s file name
    MSG_WRITE_FAILED = 35,          // %s file name
    MSG_READ_FAILED = 36,           // %s file name; callers append a " <%d>" site code
    MSG_IO_ERROR = 37,
    MSG_HELP = 38,                  // %s program file name
    MSG_ARCHIVE_DAMAGED = 39,
    MSG_INFO_LAYOUT = 40,           // %s description, %s product information
    // -test
    MSG_FILES_TESTED = 41,          // %d file count
    MSG_TESTING = 42,               // %s file name
    // LZMA entries
    MSG_LZMA_DICTIONARY_TOO_LARGE = 43,  // %s file name, %u MB needed, %u MB allowed
    MSG_LZMA_NO_MEMORY = 44,        // %s file name, %u MB needed
    MSG_INVALID_DRIVE = 45,         // %s drive
    MSG_NO_ASSOCIATION = 46,        // %s command file
    MSG_TMP_ASSIGNMENT = 47,        // "TMP="
    MSG_EXTRACT_TO = 48,            // "Extrahieren nach:"
    MSG_TEMP_NAME = 49,             // "TEMP", the environment variable
    MSG_NAMES_TOO_LONG = 50,
    MSG_THIS_ARCHIVE = 51,          // stands in for a missing archive description
    MSG_BAD_FOLDER_CHARACTERS = 52,
    MSG_INVALID_PARAMETER = 53,     // %s the parameter (English)
    MSG_MAIN_DIALOG = 54,           // the main dialog template, UTF-16, not converted
};

enum {
    MESSAGE_TEXT_COUNT = 54,        // texts 0..53
    MESSAGE_OFFSET_COUNT = 55,      // one offset per text and one for the template
};

#endif
