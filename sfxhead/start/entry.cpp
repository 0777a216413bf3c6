// The program's entry: the process start-up code, and the entry function that prepares the
// process, runs start-up and then the run sequence up to the main dialog and the clean-up.
#include <string.h>

#include "cleanup.h"
#include "config.h"
#include "failure.h"
#include "language.h"
#include "license.h"
#include "globals.h"
#include "log.h"
#include "main_dialog.h"
#include "message_ids.h"
#include "meter.h"
#include "pipeline.h"
#include "resource_data.h"
#include "selfcheck.h"
#include "startup.h"
#include "system.h"

enum { DIALOG_TEMPLATE_COPY_SIZE = 1024 };

// The start-up prompt; true when the run goes on.
static bool confirm_startup_prompt()
{
    if (startup_prompt == NULL || flag_set(SFX_HIDDEN))
        return true;
    const char* caption = text_caption;
    if (flag_set(SFX_USE_TITLE) && title_text[0] != '\0')
        caption = title_text;
    UINT type = MB_OK;
    if (flag_set(SFX_PROMPT_ASK))
        type = flag_set(SFX_PROMPT_OKCANCEL) ? MB_OKCANCEL : MB_YESNO;
    int answer = show_message_box(NULL, startup_prompt, caption, MB_TASKMODAL | type);
    if (answer == IDNO || answer == IDCANCEL)
        return false;
    LocalFree(startup_prompt);  // the pointer keeps its value; nothing reads it again
    return true;
}

// Runs the main dialog from the template stored behind the message texts.
static void run_main_dialog()
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, DIALOG_TEMPLATE_COPY_SIZE);
    if (memory == NULL)
        return;
    void* dialog_template = GlobalLock(memory);
    if (dialog_template != NULL) {
        memcpy(dialog_template, message_text(MSG_MAIN_DIALOG), DIALOG_TEMPLATE_COPY_SIZE);
        run_dialog(instance, dialog_template, NULL, main_dialog_proc, 0);
        GlobalUnlock(memory);
    }
    GlobalFree(memory);
}

static void clean_up()
{
    close_all();
    free_text_buffers();
}

// A check before the dialog failed: its message, and the program ends.
static int refuse_start(int id, unsigned type)
{
    report_error(message_text(id), type);
    return exit_code;
}

// Everything after start-up. Returns the process exit code (log.h); an internal error ends
// the process with 1 before it gets here.
static int run_sequence(char* command_line)
{
    if (!check_entry_point())
        return refuse_start(MSG_ARCHIVE_DAMAGED, MB_ICONERROR);
    if (!handle_command_line())
        return exit_code;
    if (LOBYTE(LOWORD(windows_version)) < 4)
        return refuse_start(MSG_WINDOWS_VERSION, MB_OK);
    if (stub_record.complete == 0)
        return refuse_start(MSG_INCOMPLETE, MB_ICONERROR);
    overwrite_silently = flag_set(SFX_OVERWRITE);
    entry_encrypted = flag_set(SFX_PASSWORD_FIRST);
    register_meter_class(instance);
    set_meter_text_source(format_extract_status);
    if (wide_mode)
        set_meter_code_page(CP_UTF8);
    // A test installs nothing: there is nothing to confirm or accept before it.
    if (!test_mode && (!confirm_startup_prompt() || !accept_license()))
        return EXIT_DECLINED;
    if (flag_set(SFX_AUTO))
        auto_mode = 1;
    parse_auto_switch(command_line);
    // A test starts at once, without a press of Extract.
    if (test_mode)
        auto_mode = 1;
    run_main_dialog();
    clean_up();
    return exit_code;
}

static int sfx_main(HINSTANCE module, char* command_line)
{
    choose_language();
    if (!prepare_process(module)) {
        // No buffers: stop before anything else runs (the abort point is not armed yet).
        show_message_box(NULL, texts->header_error, text_caption, MB_ICONERROR);
        return EXIT_FAILED;
    }
    // A fatal error before the main dialog, or one outside an extraction run, ends here; so
    // does an abandoned disk prompt, the one way out without a message.
    if (setjmp(abort_point) != 0)
        return exit_code != EXIT_DONE ? exit_code : EXIT_DECLINED;
    // The switches are read first, so that -silent and -log= cover start-up too.
    scan_command_line(command_line);
    startup();
    return run_sequence(command_line);
}

// The process entry point (the image is linked without the C runtime's start-up code).
// It hands the entry function the argument part of the command line: the program name,
// quoted or not, and then every character up to 0x20 are skipped.
extern "C" void __stdcall process_start()
{
    // First, before the common controls, a dialog or the shell load any DLL by name.
    restrict_dll_search();
    choose_text_form();
    unsigned char* p = (unsigned char*)argument_text();
    if (*p == '"') {
        for (++p; *p && *p != '"'; ++p) {
        }
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p && *p <= ' ')
        ++p;
    int code = sfx_main(GetModuleHandleA(NULL), (char*)p);
    // After every way the run can end but an internal error: the command has ended, or the
    // run failed or was cancelled.
    if (flag_set(SFX_CLEANUP)) {
        // The target folder is the current directory, which the system does not remove.
        change_to_program_folder();
        remove_created();
    }
    ExitProcess(log_outcome(code));
}
