// Definitions of the global state declared in globals.h.
#include "globals.h"

// The stub record, filled in by the builder. It lives in writable initialised data so that
// the builder finds it in the file by its marker; nothing in the image before it forms the
// marker. The licence fields and the reserved ones hold 0, 0, 0, 8, 0, 0 as builders write them
// without a licence.
__attribute__((used, section(".data"))) StubRecord stub_record = {
    {STUB_MARKER_BYTES}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0,
};

uint32_t switch_flags;
const TextSet* texts = &text_sets[LANGUAGE_GERMAN];

HINSTANCE instance;
HWND main_window;
HCURSOR wait_cursor;
HCURSOR arrow_cursor;
DWORD windows_version;
OSVERSIONINFOA version_info;

char self_path[LONG_PATH_CAPACITY];
char target_folder[LONG_PATH_CAPACITY];
char extra_args[EXTRA_ARGS_CAPACITY];
char* title_text;
char* command_text;
char* command_params;
char* info_option_text;
char* about_text;
char* message_buffer;
char* startup_prompt;
char* messages;
uint32_t message_starts[MESSAGE_OFFSET_COUNT];

int auto_mode;
int overwrite_silently;
int multi_volume;
int exe_volumes;
int split_volumes;
int test_mode;

EntryHeader entry_header;
int64_t compressed_size_as_read;
char entry_name[LONG_PATH_CAPACITY];
char display_name[LONG_PATH_CAPACITY];
int entry_encrypted;
int descriptor_follows;
int entry_zip64;
uint8_t entry_aes_strength;
uint8_t entry_aes_version;
int entry_time_kind;
int64_t entry_exact_time;

int extracting;
int files_extracted;
char command_file[LONG_PATH_CAPACITY];
uint64_t bytes_written;
DWORD meter_tick;
int meter_visible;

HFILE archive_handle;
HFILE output_handle;

jmp_buf abort_point;

char sig_local_header[SIGNATURE_CAPACITY];
char sig_central_header[SIGNATURE_CAPACITY];
char sig_end_record[SIGNATURE_CAPACITY];
char sig_digital_signature[SIGNATURE_CAPACITY];
char sig_single_volume[SIGNATURE_CAPACITY];
char sig_spanning[SIGNATURE_CAPACITY];
char sig_zip64_end[SIGNATURE_CAPACITY];
char sig_zip64_locator[SIGNATURE_CAPACITY];
