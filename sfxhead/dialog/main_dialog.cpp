// The main dialog: what will be extracted and where to, the Extract action with its progress,
// the outcome, and the command after extraction.
#include "main_dialog.h"

#include <string.h>

#include "cleanup.h"
#include "command.h"
#include "extract.h"
#include "failure.h"
#include "folders.h"
#include "globals.h"
#include "info.h"
#include "log.h"
#include "message_ids.h"
#include "meter.h"
#include "password.h"
#include "paths.h"
#include "pipeline.h"
#include "private_folder.h"
#include "resource_data.h"
#include "screen.h"

enum { METER_TIMER = 69, METER_DELAY_MS = 500 };
// Archives at least this large show the meter at once instead of after the delay.
enum { LARGE_ARCHIVE_OFFSET = 0x80000 };
enum { DIALOG_TEXT_CAPACITY = 300, CHECK_BOX_CAPTION_CAPACITY = 100, SHORT_COMMAND_LENGTH = 10 };
enum { MAX_PROMPT_NAME_LENGTH = 24 };

static UINT_PTR meter_timer;
// The temporary folder the folder field was given when the package names no folder; empty
// otherwise. Extract with this very text makes a folder of the run's own inside it.
static char temp_folder_shown[LONG_PATH_CAPACITY];

static bool hidden_mode()
{
    return flag_set(SFX_HIDDEN);
}

// --- initialisation --------------------------------------------------------------------------

static void set_prompt_and_caption(HWND dialog)
{
    const char* name = file_name_part(self_path);
    const char* shown = text_length(name) <= MAX_PROMPT_NAME_LENGTH ? name : message_text(MSG_THIS_ARCHIVE);
    static char text[run_text_capacity(DIALOG_TEXT_CAPACITY)];  // the name may be UTF-8
    format_checked(text, sizeof text, 5156, 5156, message_text(MSG_EXTRACT_HINT), shown);
    set_item_text(dialog, ID_PROMPT_LINE, text);

    format_checked(text, sizeof text, 5169, 5169, "%s - %s", text_caption, name);
    if (flag_set(SFX_TITLE_CAPTION))
        set_window_text(dialog, title_text[0] != '\0' ? title_text : message_text(MSG_SETUP));
    else
        set_window_text(dialog, text);
}

static void fill_folder_field(HWND dialog)
{
    // 259 characters, in either form (a longer folder comes with -dir=).
    SendDlgItemMessageA(dialog, ID_FOLDER_FIELD, EM_LIMITTEXT, PATH_CAPACITY - 1, 0);
    if (target_folder[0] == '\0') {
        find_temp_folder(target_folder, LONG_PATH_CAPACITY);
        copy_checked(temp_folder_shown, sizeof temp_folder_shown, target_folder, 7650);
    } else if (strcmp(target_folder, ".") == 0)
        current_folder(run_path_capacity(), target_folder);
    set_item_text(dialog, ID_FOLDER_FIELD, target_folder);
}

// Check box 111 offers the command; a long command goes into the line below it.
static void set_command_check_box(HWND dialog)
{
    if (command_text[0] == '\0') {
        if (!hidden_mode())
            ShowWindow(GetDlgItem(dialog, ID_RUN_COMMAND), SW_HIDE);
        return;
    }
    CheckDlgButton(dialog, ID_RUN_COMMAND, BST_CHECKED);
    char caption[CHECK_BOX_CAPTION_CAPACITY];
    copy_checked(caption, sizeof caption, message_text(MSG_RUN_AFTER), 5225);
    if (strlen(command_text) > SHORT_COMMAND_LENGTH)
        set_item_text(dialog, ID_COMMAND_TEXT, command_text);
    else
        append_checked(caption, sizeof caption, command_text, 5230);
    set_item_text(dialog, ID_RUN_COMMAND, caption);
}

static void main_on_init(HWND dialog)
{
    if (hidden_mode()) {
        SetWindowLongA(dialog, GWL_STYLE, GetWindowLongA(dialog, GWL_STYLE) & ~WS_VISIBLE);
        SetWindowLongA(dialog, GWL_EXSTYLE, GetWindowLongA(dialog, GWL_EXSTYLE) | WS_EX_TOOLWINDOW | WS_EX_MDICHILD);
    } else {
        center_window(dialog);
    }
    CheckDlgButton(dialog, ID_OVERWRITE, overwrite_silently ? BST_CHECKED : BST_UNCHECKED);
    if (!hidden_mode())
        ShowWindow(GetDlgItem(dialog, ID_METER), SW_HIDE);
    extracting = 0;
    set_prompt_and_caption(dialog);
    fill_folder_field(dialog);
    main_window = dialog;
    set_command_check_box(dialog);
    set_item_text(dialog, ID_STATUS_LINE, "");
    if (auto_mode || hidden_mode())
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    if (!hidden_mode()) {
        SetForegroundWindow(dialog);
        SetActiveWindow(dialog);
    }
}

// --- Extract ---------------------------------------------------------------------------------

static void make_close_default(HWND dialog)
{
    SendMessageA(dialog, DM_SETDEFID, IDCANCEL, 0);
    SendDlgItemMessageA(dialog, IDOK, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageA(dialog, IDCANCEL, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
}

static void show_meter_now(HWND dialog)
{
    ShowWindow(GetDlgItem(dialog, ID_STATUS_LINE), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, ID_METER), SW_SHOW);
    meter_visible = 1;
}

// The meter appears at once for large or spanned archives, otherwise only when the run is
// still early after the timer's delay.
static void prepare_meter(HWND dialog)
{
    meter_visible = 0;
    HWND meter = GetDlgItem(dialog, ID_METER);
    if (meter == NULL || hidden_mode())
        return;
    SendMessageA(meter, METER_SETPOS, 0, 0);
    SendMessageA(meter, METER_SETRANGE, 100, 0);
    meter_timer = 0;
    if ((int32_t)stub_record.end_record_offset >= LARGE_ARCHIVE_OFFSET || flag_set(SFX_MULTI_VOLUME) ||
        SetTimer(dialog, METER_TIMER, METER_DELAY_MS, NULL) == 0)
        show_meter_now(dialog);
    else
        meter_timer = METER_TIMER;
}

static void stop_meter_timer(HWND dialog)
{
    if (meter_timer)
        KillTimer(dialog, METER_TIMER);
    meter_timer = 0;
}

static void finish_progress(HWND dialog)
{
    if (hidden_mode())
        return;
    stop_meter_timer(dialog);
    HWND meter = GetDlgItem(dialog, ID_METER);
    SendMessageA(meter, METER_SETPOS, 100, 0);
    InvalidateRect(dialog, NULL, FALSE);
    UpdateWindow(dialog);
    if (meter != NULL && meter_visible)
        ShowWindow(meter, SW_HIDE);
    InvalidateRect(dialog, NULL, TRUE);
    UpdateWindow(dialog);
}

// The command after extraction runs in the target folder, with "-args=" behind its
// configured parameters. Returns true when the dialog ends.
static bool run_command_after(HWND dialog)
{
    if (change_to_folder(target_folder, LONG_PATH_CAPACITY) != 0) {
        report_error(message_text(MSG_CHANGE_FOLDER_FAILED), MB_OK);
        return false;
    }
    if (command_text[0] != '\0') {
        if (extra_args[0] != '\0') {
            if (command_params[0] != '\0')
                append_checked(command_params, COMMAND_CAPACITY, " ", 5578);
            append_checked(command_params, COMMAND_CAPACITY, extra_args, 5579);
        }
        run_command(command_text, command_params, START_SHELL);
    }
    EndDialog(dialog, 1);
    return true;
}

// After a test that found no error: the count in a box (with -silent, in the log), and the
// dialog ends. The log gets the line in both modes, as it gets an error's.
static void report_test_passed(HWND dialog)
{
    char text[DIALOG_TEXT_CAPACITY];
    format_checked(text, sizeof text, 7401, 7401, message_text(MSG_FILES_TESTED), files_extracted);
    if (!silent_mode)
        log_message(text);
    show_notice(text);
    EndDialog(dialog, 1);
}

// After a completed run. Returns true when the dialog ends.
static bool report_success(HWND dialog)
{
    if (test_mode) {
        report_test_passed(dialog);
        return true;
    }
    char text[DIALOG_TEXT_CAPACITY];
    format_checked(text, sizeof text, 5495, 5495, message_text(MSG_FILES_EXTRACTED), files_extracted);
    set_item_text(dialog, ID_STATUS_LINE, text);
    if (!auto_mode && !hidden_mode())
        show_message_box(dialog, text, text_caption, MB_OK);
    if (IsDlgButtonChecked(dialog, ID_RUN_COMMAND) != BST_CHECKED)
        keep_created();  // extracted without the command (-extract-only, box cleared): asked for
    else if (run_command_after(dialog))
        return true;
    if (auto_mode || hidden_mode())
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return false;
}

// The target folder from its field; an empty field is refused and Extract stays available.
static bool take_folder_field(HWND dialog)
{
    get_item_text(dialog, ID_FOLDER_FIELD, target_folder, run_path_capacity());
    if (target_folder[0] != '\0')
        return true;
    report_error(message_text(MSG_NO_FOLDER), MB_ICONERROR);
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    return false;
}

// The temporary folder as shown stands for a new folder of the run's own inside it, made only
// once the run goes ahead; the field then shows it. False (Extract available again) when it
// cannot be made.
static bool take_private_folder(HWND dialog)
{
    if (test_mode || temp_folder_shown[0] == '\0' || strcmp(target_folder, temp_folder_shown) != 0)
        return true;
    if (make_private_folder(target_folder, LONG_PATH_CAPACITY)) {
        set_item_text(dialog, ID_FOLDER_FIELD, target_folder);
        return true;
    }
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    return false;
}

// Returns false when it stopped early (empty folder, password cancelled).
static bool main_on_extract(HWND dialog)
{
    make_close_default(dialog);
    exit_code = EXIT_DONE;  // the outcome of this run decides
    overwrite_silently = IsDlgButtonChecked(dialog, ID_OVERWRITE) == BST_CHECKED;
    // A test has no target folder.
    if (!test_mode && !take_folder_field(dialog))
        return true;
    set_item_text(dialog, ID_STATUS_LINE, "");
    if (!password_dialog(dialog)) {
        exit_code = EXIT_DECLINED;
        EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
        // Nobody can press Extract again in a dialog that is not shown: it ends. (An automatic
        // package's dialog stays, so its user may try again.)
        if (hidden_mode())
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return false;
    }
    if (!take_private_folder(dialog))
        return true;
    prepare_meter(dialog);
    bytes_written = 0;
    meter_tick = 0;
    files_extracted = 0;
    int result = extract_all();
    finish_progress(dialog);
    set_item_text(dialog, ID_STATUS_LINE, "");
    if (result != 0) {
        // A run that ended without an error message was cancelled by the user.
        if (exit_code == EXIT_DONE)
            exit_code = EXIT_DECLINED;
        set_item_text(dialog, ID_STATUS_LINE, message_text(MSG_EXTRACTION_CANCELLED));
        EndDialog(dialog, 1);
    } else {
        report_success(dialog);
    }
    EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
    return true;
}

// --- meter timer -----------------------------------------------------------------------------

static void main_on_timer(HWND dialog)
{
    // A tick under an open message box waits for the next one.
    if (GetLastActivePopup(dialog) != dialog)
        return;
    stop_meter_timer(dialog);
    HWND meter = GetDlgItem(dialog, ID_METER);
    if (meter != NULL && extracting && bytes_written * 3 < stub_total_size(stub_record)) {
        show_meter_now(dialog);
        InvalidateRect(meter, NULL, FALSE);
    }
}

// --- the procedure ---------------------------------------------------------------------------

// Returns false when the handler returned early and the dialog is left as it is.
static bool main_on_command(HWND dialog, WPARAM command)
{
    switch (command) {
    case IDOK:
        return main_on_extract(dialog);  // false after a cancelled password dialog
    case ID_BROWSE:
        browse_for_folder(dialog);
        return true;
    case ID_ARCHIVER:
        if (open_in_archiver())
            EndDialog(dialog, 1);
        return true;
    case ID_INFO:
        show_info();
        return true;
    case ID_HELP:
        show_help();
        return true;
    }
    return true;
}

INT_PTR CALLBACK main_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        main_on_init(dialog);
        return TRUE;
    case WM_WINDOWPOSCHANGING:
        // The dialog manager shows a dialog whose template is visible once WM_INITDIALOG has
        // returned, whatever the style is then; a hidden dialog refuses every show instead of
        // flashing up until the next message hides it again.
        if (hidden_mode())
            ((WINDOWPOS*)lparam)->flags &= ~SWP_SHOWWINDOW;
        return FALSE;
    case WM_COMMAND:
        // Matched on the whole wParam on purpose: only clicks (notification code 0) of the
        // buttons act; the check boxes and the edit field look after themselves.
        if (wparam == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (!main_on_command(dialog, wparam))
            return TRUE;
        break;
    case WM_TIMER:
        if (wparam == METER_TIMER)
            main_on_timer(dialog);
        break;
    default:
        return FALSE;
    }
    // A hidden dialog stays hidden after everything it handles.
    if (hidden_mode())
        ShowWindow(dialog, SW_HIDE);
    return FALSE;
}
