// The entry data pipeline: the output file, the compressed input (read, decrypted, across
// disks), the stored copy or the decoder, the CRC-32, progress, cancel and the file time.
#include "file_times.h"
#include "pipeline.h"

#include <stdio.h>
#include <string.h>

#include "control_ids.h"
#include "crc32.h"
#include "entry_check.h"
#include "entry_cipher.h"
#include "failure.h"
#include "globals.h"
#include "lzma_entry.h"
#include "message_ids.h"
#include "meter.h"
#include "paths.h"
#include "reader.h"
#include "system.h"
#include "volume.h"
#include "zip_format.h"

uint8_t* input_buffer;
uint8_t* output_buffer;
// The decoder counts the current entry's compressed bytes down in the header itself.
uint64_t& source_remaining = entry_header.compressed_size;

// The status text names the file: up to 255 UTF-16 units, 3 bytes each in UTF-8.
enum { STATUS_TEXT_CAPACITY = 3 * 255 + 64 };
// Within a long file the meter repaints when this many milliseconds have passed since its last
// repaint, checked at every input chunk and output piece: it moves ten times a second however
// fast the data arrives, and costs one GetTickCount per 28 KiB.
enum { METER_INTERVAL_MS = 100 };
// Bytes the current entry's data gave so far (the sink's pieces, also in a test run).
static uint64_t entry_output_size;

// --- progress --------------------------------------------------------------------------------

// Past 4 GiB both counts are halved together until the total fits 32 bits, so the percentage
// is a 32-bit division at any size (a 64-bit one would pull in the library's division) and
// below 4 GiB it is what it always was.
WORD progress_percentage()
{
    uint64_t total = stub_total_size(stub_record);
    uint64_t done = bytes_written;
    // An archive whose sizes add up to nothing is complete as soon as anything was written.
    if (total == 0)
        return done == 0 ? 0 : 100;
    while (total >> 32 != 0) {
        total >>= 1;
        done >>= 1;
    }
    if (done >> 32 != 0)
        done = total;  // sizes that lie: more output than the total
    uint32_t total32 = (uint32_t)total, done32 = (uint32_t)done;
    if (total32 < 100)
        return (WORD)(done32 * 100 / total32);
    return (WORD)(done32 / (total32 / 100));
}

int format_extract_status(char* buffer, size_t capacity)
{
    const char* format = message_text(test_mode ? MSG_TESTING : MSG_EXTRACTING);
    int length = _snprintf(buffer, capacity, format, file_name_part(display_name));
    if (length < 0 || (size_t)length >= capacity)
        return -1;
    return length;
}

// Repaints the meter, which shows the percentage and the current file's name; a run without
// a window has nothing to paint.
static void repaint_meter()
{
    meter_tick = GetTickCount();
    if (flag_set(SFX_HIDDEN))
        return;
    HWND meter = GetDlgItem(main_window, ID_METER);
    if (meter_visible)
        SendMessageA(meter, METER_SETPOS, progress_percentage(), 0);
    InvalidateRect(meter, NULL, FALSE);
    UpdateWindow(main_window);
}

static void move_meter()
{
    if (GetTickCount() - meter_tick >= METER_INTERVAL_MS)
        repaint_meter();
}

// A new file: the status line or the meter names it at once.
static void show_extract_status()
{
    char text[STATUS_TEXT_CAPACITY];
    if (format_extract_status(text, sizeof text) < 0)
        internal_error_at(1579);
    if (flag_set(SFX_HIDDEN))
        return;
    if (meter_visible) {
        repaint_meter();
        return;
    }
    HWND status_line = GetDlgItem(main_window, ID_STATUS_LINE);
    set_window_text(status_line, text);
    InvalidateRect(status_line, NULL, FALSE);
}

// --- cancel ----------------------------------------------------------------------------------

static bool is_user_input(const MSG* message)
{
    switch (message->message) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_VKEYTOITEM:
        return true;
    case WM_CHAR:
        return (message->lParam & 0x80000000) != 0;
    }
    return false;
}

static bool is_dialog_window(HWND hwnd)
{
    return hwnd != NULL && (hwnd == main_window || GetParent(hwnd) == main_window);
}

// Pumps the queue between two writes: painting and timers go on, while a click or key aimed
// at the dialog asks whether to cancel. True when the user chose to cancel.
bool poll_cancel()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        UINT id = message.message;
        if (id == WM_SETCURSOR || id == WM_MOUSEMOVE || id == WM_NCMOUSEMOVE) {
            SetCursor(wait_cursor);
            continue;
        }
        if (is_user_input(&message)) {
            if (!is_dialog_window(message.hwnd))
                continue;
            int answer = show_box(message_text(MSG_ASK_CANCEL), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
            return answer == IDYES;
        }
        if (id == WM_CHAR)
            continue;  // a character without bit 31 set is dropped
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return false;
}

// --- output ----------------------------------------------------------------------------------

static void check_write(UINT result)
{
    if (result != (UINT)HFILE_ERROR && result == output_count) {
        if (poll_cancel())
            abort_run(ABORT_FATAL);
        return;
    }
    fatal_message(2353, 2354, MSG_WRITE_FAILED, display_name);
}

// A test run's sink keeps nothing: the piece only passes the CRC-32 and the cancel check.
static void write_output()
{
    bytes_written += output_count;
    entry_output_size += output_count;
    update_crc(output_buffer, output_count);
    check_write(test_mode ? output_count : _lwrite(output_handle, (LPCCH)output_buffer, output_count));
}

void flush_output()
{
    if (memory_mode) {
        output_count = 0;
        return;
    }
    move_meter();
    write_output();
    output_cursor = output_buffer;
    output_count = 0;
}

// --- input -----------------------------------------------------------------------------------

uint32_t refill_input()
{
    move_meter();
    memset(input_buffer, 0, INPUT_CHUNK_SIZE);
    if (entry_header.compressed_size == 0) {
        input_avail = 0;
        return 0;
    }
    UINT want = entry_header.compressed_size < INPUT_CHUNK_SIZE ? (UINT)entry_header.compressed_size : (UINT)INPUT_CHUNK_SIZE;
    UINT count = _lread(archive_handle, input_buffer, want);
    // A short read at the end of a disk continues on the next one: an empty read is repeated
    // there, a partial chunk is used as it is and the rest follows with the next refill.
    if (multi_volume && count != (UINT)HFILE_ERROR && count != want) {
        open_volume((uint16_t)(disk_number + 1), exe_volumes);
        if (count == 0) {
            count = _lread(archive_handle, input_buffer, want);
            if (count != (UINT)HFILE_ERROR)
                want = count;
        } else {
            want = count;
        }
    }
    if (count != want)
        report_read_error(READ_ERROR_DATA);
    input_cursor = input_buffer;
    if (entry_encrypted)
        decrypt_entry_chunk(input_buffer, count);
    input_avail = (int32_t)count - 1;
    return count;
}

// --- file time -------------------------------------------------------------------------------

typedef BOOL(WINAPI* LocalToUtcCall)(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, SYSTEMTIME*);

// TzSpecificLocalTimeToSystemTime applies the daylight-saving rule of the date it converts,
// so a June file extracted in December keeps its hour. Windows 95, 98 and NT 4 lack it: it is
// looked up at run time, once.
static LocalToUtcCall local_to_utc_call()
{
    static LocalToUtcCall call;
    static bool looked_up;
    if (!looked_up) {
        call = (LocalToUtcCall)(void*)kernel_procedure("TzSpecificLocalTimeToSystemTime");
        looked_up = true;
    }
    return call;
}

// A FILETIME read as one count of 100 ns ticks (GCC defines reading the other member).
union FileTicks {
    FILETIME time;
    int64_t ticks;
};

// One reading of a local time by the daylight-saving rule of its date; false where the
// system has no such rule.
static bool read_by_date_rule(const FileTicks* local, FileTicks* utc)
{
    LocalToUtcCall call = local_to_utc_call();
    SYSTEMTIME local_parts, utc_parts;
    return call != NULL && FileTimeToSystemTime(&local->time, &local_parts) && call(NULL, &local_parts, &utc_parts) &&
           SystemTimeToFileTime(&utc_parts, &utc->time);
}

// Local time to UTC by the rule in force on that date. In the autumn overlap a local time
// happens twice and the system takes the daylight (earlier) reading; the time an hour later is
// past the overlap, so it minus an hour is the standard (later) reading, which is taken.
// Elsewhere that hour-later reading is never the later one, so a time in the spring gap keeps
// the system's reading. Where the system has no such rule, LocalFileTimeToFileTime applies
// today's offset to every date.
static void local_to_utc(FileTicks local, FileTicks* utc)
{
    const int64_t hour = 3600 * FILETIME_PER_SECOND;
    FileTicks later = local;
    later.ticks += hour;
    if (read_by_date_rule(&local, utc) && read_by_date_rule(&later, &later)) {
        if (later.ticks - hour > utc->ticks)
            utc->ticks = later.ticks - hour;
        return;
    }
    LocalFileTimeToFileTime(&local.time, &utc->time);
}

static void set_file_time(HFILE file, WORD dos_date, WORD dos_time)
{
    FileTicks local, utc;
    utc.ticks = entry_exact_time;
    if (entry_time_kind == TIME_FROM_DOS) {
        DosDateTimeToFileTime(dos_date, dos_time, &local.time);
        local_to_utc(local, &utc);
    }
    SetFileTime((HANDLE)(INT_PTR)file, &utc.time, &utc.time, &utc.time);
}

// The exact time of the extra field when there is one (the same moment in every zone). Else
// the DOS time, its out-of-range fields clamped so that every entry gets a valid time.
static void set_output_time()
{
    WORD time = entry_header.mod_time;
    WORD date = entry_header.mod_date;
    if ((time & 0x1F) > 29)
        time = (WORD)((time & ~0x1F) | 29);
    if (((time >> 5) & 0x3F) > 59)
        time = (WORD)((time & ~(0x3F << 5)) | (59 << 5));
    if ((time >> 11) > 23)
        time = (WORD)((time & 0x07FF) | (23 << 11));
    if ((date & 0x1F) == 0)
        date = (WORD)(date | 1);
    WORD month = (date >> 5) & 0x0F;
    if (month == 0)
        date = (WORD)((date & ~(0x0F << 5)) | (1 << 5));
    else if (month > 12)
        date = (WORD)((date & ~(0x0F << 5)) | (12 << 5));
    set_file_time(output_handle, date, time);
}

// --- one entry -------------------------------------------------------------------------------

// Bytes that can be copied as one block behind the byte fetch_byte just took: what the current
// chunk still holds, up to the end of the output piece. A chunk never holds more than the entry
// has left, because refill_input reads at most compressed_size bytes.
static uint32_t stored_run_length()
{
    uint32_t run = (uint32_t)input_avail;
    if (run > OUTPUT_PIECE_SIZE - output_count)
        run = OUTPUT_PIECE_SIZE - output_count;
    return run;
}

// Stored data goes through the decoder's byte source, so refills (with decryption and disk
// changes) happen exactly where they would byte by byte: fetch_byte takes the first byte of
// every run and refills when the chunk is used up; the rest of the chunk follows as a block.
// Pieces are flushed at the same 28,672-byte marks. Byte by byte (a call of fetch_byte per
// byte) 150 MB of stored entries took 0.81 s under Wine, in blocks 0.35 s.
static void copy_stored_data()
{
    uint8_t byte;
    while (fetch_byte(&byte) != 0) {
        *output_cursor++ = byte;
        ++output_count;
        uint32_t run = stored_run_length();
        memcpy(output_cursor, input_cursor, run);
        output_cursor += run;
        input_cursor += run;
        input_avail -= (int32_t)run;
        source_remaining -= run;
        output_count += run;
        if (output_count == OUTPUT_PIECE_SIZE)
            flush_output();
    }
}

// True when the data ended where it should: stored data always does, a Deflate stream when
// its final block ended within the entry's data, an LZMA stream when it decoded whole.
static bool decode_entry_data()
{
    switch (entry_header.method) {
    case METHOD_STORED:
        show_extract_status();
        copy_stored_data();
        return true;
    case METHOD_DEFLATE:
    case METHOD_DEFLATE64:
        show_extract_status();
        return inflate_stream(entry_header.method == METHOD_DEFLATE64) == INFLATE_OK;
    case METHOD_LZMA:
        show_extract_status();
        return decode_lzma_entry();
    }
    fatal_error(message_text(MSG_UNSUPPORTED_METHOD));
}

// --- authentication of an AES entry ----------------------------------------------------------

// The decoder may stop before the end of the encrypted data (a damaged stream): the rest is
// read all the same, so the code covers every byte. Bytes of the file not yet read are the
// count still to take less what the current chunk holds.
static void read_rest_of_data()
{
    source_remaining -= (uint32_t)input_avail;
    input_avail = 0;
    while (source_remaining != 0)
        source_remaining -= refill_input();
}

// The 10-byte code behind the data; in a spanned archive it may go on on the next disk.
static void read_stored_code(uint8_t* code)
{
    UINT count = _lread(archive_handle, code, AES_CODE_SIZE);
    if (multi_volume && count != (UINT)HFILE_ERROR && count < AES_CODE_SIZE) {
        open_volume((uint16_t)(disk_number + 1), exe_volumes);
        UINT rest = _lread(archive_handle, code + count, AES_CODE_SIZE - count);
        if (rest != (UINT)HFILE_ERROR)
            count += rest;
    }
    if (count != AES_CODE_SIZE)
        report_read_error(READ_ERROR_DATA);
}

// True when the AES entry's code matches its encrypted data.
static bool entry_authenticated()
{
    read_rest_of_data();
    uint8_t code[AES_CODE_SIZE];
    read_stored_code(code);
    return aes_code_matches(code);
}

void extract_entry_data()
{
    output_cursor = output_buffer;
    output_count = 0;
    entry_output_size = 0;
    crc_register = 0xFFFFFFFFu;
    input_avail = 0;
    EntryOutcome outcome;
    // An entry without data bytes gives nothing; its sizes must say so.
    outcome.stream_ended = compressed_size_as_read == 0 || decode_entry_data();
    // A code that does not match means damaged data, or a wrong password that passed the
    // verifier by chance: the same outcome as a CRC error. AE-2 entries store no CRC, their
    // code alone protects the data.
    EntryPromise promise = {entry_header.uncompressed_size, entry_header.crc32, true, entry_aes_strength != 0};
    if (promise.code_stored) {
        outcome.code_matches = entry_authenticated();
        promise.crc_stored = entry_aes_version == AES_VERSION_AE1;
    }
    if (output_count > 0)
        write_output();
    if (!test_mode) {
        set_output_time();
        _lclose(output_handle);
        output_handle = 0;
    }
    outcome.decoded_size = entry_output_size;
    outcome.crc32 = ~crc_register;
    if (judge_entry_data(promise, outcome) != ENTRY_GOOD)
        fatal_message(4096, 4096, MSG_BAD_CRC, display_name);
}
