// Global state of the stub. Everything is single-instance: one process, one thread, one
// extraction run at a time. Buffers are allocated zero-filled at start-up and released by the
// clean-up at the end of the run sequence.
#ifndef TVSFX_GLOBALS_H
#define TVSFX_GLOBALS_H

#include <windows.h>
#include <setjmp.h>
#include <stdint.h>

#include "resource_data.h"
#include "stub_record.h"
#include "wide_api.h"

// Buffer capacities, each including the terminating NUL. A path of Windows 95, 98 and Me, and
// the target folder field of the configuration block, has at most 259 characters; the path
// buffers of a run hold the NT family's longest path in UTF-8 (LONG_PATH_CAPACITY).
enum {
    PATH_CAPACITY = 261,
    TITLE_CAPACITY = 65,
    COMMAND_CAPACITY = 257,
    INFO_OPTION_CAPACITY = 512,
    ABOUT_CAPACITY = 516,
    MESSAGE_BUFFER_CAPACITY = 500,
    PROMPT_CAPACITY = 514,
    EXTRA_ARGS_CAPACITY = 257,
    SIGNATURE_CAPACITY = 5,  // four signature bytes and a NUL
};
// The longest path of the run, with its NUL: PATH_CAPACITY on Windows 95, 98 and Me.
inline DWORD run_path_capacity() { return wide_mode ? (DWORD)LONG_PATH_CAPACITY : (DWORD)PATH_CAPACITY; }
// A configuration text of capacity bytes in the ANSI code page takes up to three times as
// many in UTF-8.
constexpr size_t run_text_capacity(size_t capacity) { return 3 * (capacity - 1) + 1; }


// Filled by the builder; read from memory as loaded from the file, never written at run time.
extern StubRecord stub_record;

// --- process -------------------------------------------------------------------------------
extern HINSTANCE instance;
extern HWND main_window;          // the main dialog; null until it exists (owner of boxes)
extern HCURSOR wait_cursor;       // shown while extracting
extern HCURSOR arrow_cursor;
extern DWORD windows_version;     // GetVersion() as remembered at start-up
extern OSVERSIONINFOA version_info;  // for the internal-error report

// --- texts and paths -------------------------------------------------------------------------
extern char self_path[LONG_PATH_CAPACITY];  // the program's file, last component in its long form
extern char target_folder[LONG_PATH_CAPACITY];
extern char extra_args[EXTRA_ARGS_CAPACITY];  // from "-args=" on the command line
// The configuration texts in the run's form: run_text_capacity(X_CAPACITY) bytes each.
extern char* title_text;                    // TITLE_CAPACITY, global memory
extern char* command_text;                  // COMMAND_CAPACITY
extern char* command_params;                // COMMAND_CAPACITY
extern char* info_option_text;              // INFO_OPTION_CAPACITY
extern char* about_text;                    // ABOUT_CAPACITY
// Scratch for error texts: MESSAGE_BUFFER_CAPACITY bytes and room for a path.
extern char* message_buffer;
enum { MESSAGE_SCRATCH_CAPACITY = MESSAGE_BUFFER_CAPACITY + LONG_PATH_CAPACITY };
extern char* startup_prompt;                // PROMPT_CAPACITY local block, or null
extern char* messages;                      // the loaded message table

// --- modes -----------------------------------------------------------------------------------
extern int auto_mode;
extern int overwrite_silently;
extern int multi_volume;
extern int exe_volumes;
extern int split_volumes;  // the archive lies in data volumes beside the program (split_volume.h)
// "-test": every entry is read, decrypted, decoded and checked as in an extraction, and
// nothing is written: no folder, no file, no command.
extern int test_mode;

// --- the current entry (overwritten by every local header) ----------------------------------
// Its local header: the 26 bytes after the signature, field by field.
struct EntryHeader {
    uint8_t version_needed;     // not used
    uint8_t version_host;       // not used
    uint16_t gp_flags;          // bit 0: encrypted; bit 3: a data descriptor follows the data
    uint16_t method;            // METHOD_STORED, METHOD_DEFLATE, METHOD_DEFLATE64 or METHOD_LZMA
    uint16_t mod_time;          // MS-DOS time; high byte = password check byte with bit 3
    uint16_t mod_date;          // MS-DOS date
    uint32_t crc32;             // of the uncompressed data; high byte = check byte without bit 3
    // The sizes as 64-bit counts: the header's 32-bit fields, or the ZIP64 record's values
    // where a field holds ZIP64_MARK_32.
    uint64_t compressed_size;   // counted down while the data is read (unsigned)
    uint64_t uncompressed_size;
    uint16_t name_length;       // at most MAX_NAME_LENGTH on Windows 95, 98 and Me
    uint16_t extra_length;      // skipped
};
extern EntryHeader entry_header;
extern int64_t compressed_size_as_read;  // tested for > 0 before anything is decoded
extern char entry_name[LONG_PATH_CAPACITY];    // the name in the run's form, later the output path
extern char display_name[LONG_PATH_CAPACITY];  // the name shown in messages and the status text
extern int entry_encrypted;              // bit 0 of the current entry (preset at start-up)
extern int descriptor_follows;           // bit 3 of the current entry
extern int entry_zip64;                  // its local header has a ZIP64 record (8-byte sizes in its descriptor)
// An AES entry (method 99) with a usable 0x9901 record: its key strength 1..3 and vendor
// version (1: the CRC is checked too; 2: only the authentication code). ENTRY_AES_UNKNOWN
// when an encrypted entry's record names a version, vendor or strength this program does not
// know, is not 7 bytes long or runs past the extra field, or the entry's method is not 99; 0
// for every other entry. The method stays as it was unless the record is usable.
enum { ENTRY_AES_UNKNOWN = 0xFF };
extern uint8_t entry_aes_strength;
extern uint8_t entry_aes_version;
// The exact modification time of the local header's extra field (a FILETIME value, UTC) and
// where it came from; TIME_FROM_DOS: none, the DOS time counts.
extern int entry_time_kind;
extern int64_t entry_exact_time;

// --- the extraction run (set by the dialog and the driver) -----------------------------------
extern int extracting;         // 1 while extract_all runs
extern int files_extracted;    // file entries written, checked and in place in this run
// The entry of this run that is the command after extraction: its full output path (kept or
// replaced, the file is the archive's). Empty when no entry is.
extern char command_file[LONG_PATH_CAPACITY];
extern uint64_t bytes_written;  // bytes of output in this run (the meter's progress)
extern DWORD meter_tick;        // GetTickCount at the last repaint of the meter
extern int meter_visible;       // the dialog shows the meter instead of the status line

// --- files -----------------------------------------------------------------------------------
// 16-bit-style handles; 0 means none is open.
extern HFILE archive_handle;  // the program's own file, or the current disk's file
extern HFILE output_handle;   // the output file while one entry is written

// --- recovery --------------------------------------------------------------------------------
// The one target of the non-local jump that fatal errors and cancels perform. The value that
// comes back from setjmp is 1 (cancelled at an overwrite question) or 2 (fatal error or abort).
extern jmp_buf abort_point;

// --- record signatures, assembled at start-up so the image never holds them whole ------------
extern char sig_local_header[SIGNATURE_CAPACITY];
extern char sig_central_header[SIGNATURE_CAPACITY];
extern char sig_end_record[SIGNATURE_CAPACITY];
extern char sig_digital_signature[SIGNATURE_CAPACITY];
extern char sig_single_volume[SIGNATURE_CAPACITY];
extern char sig_spanning[SIGNATURE_CAPACITY];
extern char sig_zip64_end[SIGNATURE_CAPACITY];
extern char sig_zip64_locator[SIGNATURE_CAPACITY];

// The texts of the language the package asks for (German until the entry function chose).
extern const TextSet* texts;

// Where message k of the loaded table starts (ids in message_ids.h): in wide mode the texts
// are UTF-8 and longer than as stored.
extern uint32_t message_starts[MESSAGE_OFFSET_COUNT];
inline char* message_text(int id) { return messages + message_starts[id]; }

// Flag bits the command line adds for this run: -silent adds SFX_HIDDEN and SFX_AUTO,
// -overwrite adds SFX_OVERWRITE.
extern uint32_t switch_flags;
inline bool flag_set(uint32_t mask) { return ((stub_record.flags | switch_flags) & mask) != 0; }

#endif
