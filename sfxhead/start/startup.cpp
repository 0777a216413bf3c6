// Start-up: the preparation half of the entry function, `startup`, which opens and checks the
// program's own file and loads the message table and the configuration, and `close_all`.
#include "startup.h"

#include <commctrl.h>
#include <string.h>

#include "config.h"
#include "crc32.h"
#include "failure.h"
#include "globals.h"
#include "inflate.h"
#include "license_text.h"
#include "lzma_entry.h"
#include "messages.h"
#include "pipeline.h"
#include "paths.h"
#include "resource_data.h"
#include "selfcheck.h"
#include "split_volume.h"
#include "system.h"
#include "volume.h"
#include "zip_aes.h"
#include "zip_format.h"

// Makes the program's own folder the current directory, so that a target folder "." and the
// report file of an internal error both refer to it.
void change_to_program_folder()
{
    static char path[LONG_PATH_CAPACITY];
    DWORD length = own_module_path(path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    char* name = (char*)file_name_part(path);
    if (name == path)
        return;
    // Keep the separator of a drive root: "C:" alone would name that drive's current folder.
    if (name - path == 3 && path[1] == ':')
        *name = '\0';
    else
        name[-1] = '\0';
    change_current_folder(path);
}

static char* allocate_global_text(SIZE_T capacity)
{
    HGLOBAL memory = GlobalAlloc(GMEM_ZEROINIT, capacity);
    return memory ? (char*)GlobalLock(memory) : NULL;
}

static bool allocate_text_buffers()
{
    title_text = allocate_global_text(run_text_capacity(TITLE_CAPACITY));
    command_text = allocate_global_text(run_text_capacity(COMMAND_CAPACITY));
    command_params = allocate_global_text(run_text_capacity(COMMAND_CAPACITY));
    info_option_text = allocate_global_text(run_text_capacity(INFO_OPTION_CAPACITY));
    about_text = allocate_global_text(run_text_capacity(ABOUT_CAPACITY));
    message_buffer = allocate_global_text(MESSAGE_SCRATCH_CAPACITY);
    return title_text && command_text && command_params && info_option_text && about_text && message_buffer;
}

static void free_global_text(char* text)
{
    if (text == NULL)
        return;
    HGLOBAL memory = GlobalHandle(text);
    GlobalUnlock(memory);
    GlobalFree(memory);
}

void free_text_buffers()
{
    free_global_text(title_text);
    free_global_text(command_text);
    free_global_text(command_params);
    free_global_text(info_option_text);
    free_global_text(about_text);
    free_global_text(message_buffer);
    free_global_text(messages);
}

// self_path: the module's file name with its last component replaced by the long file name.
static void find_self_path()
{
    own_module_path(self_path, LONG_PATH_CAPACITY);
    FoundFile found;
    HANDLE search = find_first_path(self_path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    char* name = (char*)file_name_part(self_path);
    copy_checked(name, LONG_PATH_CAPACITY - (name - self_path), found.name, 2617);
}

bool prepare_process(HINSTANCE module)
{
    InitCommonControls();
    wait_cursor = LoadCursorA(NULL, IDC_WAIT);
    arrow_cursor = LoadCursorA(NULL, IDC_ARROW);
    change_to_program_folder();
    instance = module;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    windows_version = GetVersion();
    version_info.dwOSVersionInfoSize = sizeof version_info;
    GetVersionExA(&version_info);
    if (!allocate_text_buffers())
        return false;
    find_self_path();
    return true;
}

// The image never holds a signature whole: each is a 'P' and its tail from zip_format.h.
static void assemble_signature(char* signature, const char* tail, int line)
{
    signature[0] = 'P';
    copy_checked(signature + 1, SIGNATURE_CAPACITY - 1, tail, line);
}

static void assemble_signatures()
{
    assemble_signature(sig_local_header, SIG_TAIL_LOCAL, 6022);
    assemble_signature(sig_central_header, SIG_TAIL_CENTRAL, 6023);
    assemble_signature(sig_end_record, SIG_TAIL_END, 6024);
    assemble_signature(sig_digital_signature, SIG_TAIL_DIGITAL_SIGNATURE, 6025);
    assemble_signature(sig_single_volume, SIG_TAIL_SINGLE_VOLUME, 6026);
    assemble_signature(sig_spanning, SIG_TAIL_SPANNING, 6029);
    assemble_signature(sig_zip64_end, SIG_TAIL_ZIP64_END, 8200);
    assemble_signature(sig_zip64_locator, SIG_TAIL_ZIP64_LOCATOR, 8201);
}

static void allocate_decoder_buffers()
{
    slide_window = (uint8_t*)LocalAlloc(LMEM_ZEROINIT, WINDOW_ALLOC_SIZE);
    input_buffer = (uint8_t*)LocalAlloc(LMEM_ZEROINIT, IO_BUFFER_CAPACITY);
    output_buffer = (uint8_t*)LocalAlloc(LMEM_ZEROINIT, IO_BUFFER_CAPACITY);
    if (slide_window == NULL || input_buffer == NULL || output_buffer == NULL)
        fatal_header_error();
}

// The licence record is checked in every mode, also where the page is never shown (silent,
// hidden): a run must not accept, and log as accepted, a licence its file does not hold.
static void check_license_record()
{
    DWORD file_size = GetFileSize((HANDLE)(INT_PTR)archive_handle, NULL);
    uint32_t next = stub_record.config_offset != 0 ? stub_record.config_offset : stub_record.archive_offset;
    if (file_size == INVALID_FILE_SIZE ||
        !license_record_sound(stub_record.license_offset, stub_record.license_size, next, file_size))
        fatal_header_error();
}

typedef BOOL(WINAPI* FeatureQueryCall)(DWORD);

// Whether the system saves the SSE registers on a task switch, which the CRC, AES and SHA-1
// instructions need. Windows 95 has no IsProcessorFeaturePresent and NT 4 does not know the
// feature: both answer no, and the table methods run there.
static bool system_saves_sse_state()
{
    FeatureQueryCall call = (FeatureQueryCall)(void*)kernel_procedure("IsProcessorFeaturePresent");
    return call != NULL && call(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
}

void startup()
{
    assemble_signatures();
    system_saves_simd_state = system_saves_sse_state();
    build_crc_table();
    build_zip_aes();
    archive_handle = open_for_reading(self_path, OF_SHARE_DENY_WRITE);
    if (archive_handle == HFILE_ERROR) {
        archive_handle = 0;
        fatal_header_error();
    }
    check_license_record();
    if (stub_record.stub_crc != 0)
        check_stub_crc(stub_record.archive_offset, stub_record.stub_crc, stub_record.marker);
    multi_volume = flag_set(SFX_MULTI_VOLUME);
    exe_volumes = flag_set(SFX_EXE_VOLUMES);
    // A split package reads its configuration from its own file, which holds no archive bytes:
    // the volumes beside it are checked when a run starts.
    split_volumes = flag_set(SFX_SPLIT_VOLUMES);
    if (split_volumes) {
        multi_volume = 1;
        load_volume_table();
    }
    allocate_decoder_buffers();
    load_messages();
    if (multi_volume && !split_volumes)
        open_volume(1, true);
    read_configuration();
    if (multi_volume)
        return;
    if (stub_record.end_record_offset != 0)
        check_archive_end();
}

static void free_local(uint8_t** block)
{
    if (*block)
        LocalFree(*block);
    *block = NULL;
}

void close_all()
{
    free_local(&slide_window);
    free_local(&input_buffer);
    free_local(&output_buffer);
    release_dictionary();
    if (archive_handle != 0)
        _lclose(archive_handle);
    archive_handle = 0;
    if (output_handle != 0)
        _lclose(output_handle);
    output_handle = 0;
}
