// Starting the command after extraction through the shell, and the archiver through its
// registered open command.
#include "command.h"

#include <shellapi.h>
#include <string.h>

#include "failure.h"
#include "globals.h"
#include "log.h"
#include "message_ids.h"
#include "system.h"
#include "wide_api.h"

// A command line: the program's path, quoted, and the parameters with "-args=" (in UTF-8 in
// wide mode). Its buffers are static, as the stack is small.
enum { COMMAND_LINE_CAPACITY = 739 + LONG_PATH_CAPACITY + 2 * 3 * 256, ARCHIVER_COMMAND_CAPACITY = 261 };
// FindExecutable's answer for a file whose type has no associated program.
enum { SE_NO_ASSOCIATION = 31 };

// Message 14 with the system's code; the command is named as configured.
static void report_start_failure(int code, const char* file, int line)
{
    static char text[COMMAND_LINE_CAPACITY];
    format_checked(text, sizeof text, line, line, message_text(MSG_COMMAND_FAILED), code, file);
    report_error(text, MB_OK);
}

// --- the command's file ----------------------------------------------------------------------
//
// The command is never handed to the system by its bare name: the system would look for it in
// the program's own folder (often Downloads, where anybody's files land) and in the current
// one before its own folders. A file of the archive runs from its full path in the target
// folder; any other name is looked up in the system's folders and PATH only.

// Appends folder and a ';' to the list at *used; a folder the call could not give is left out.
static void append_system_folder(char* list, UINT* used, UINT (WINAPI* get_folder)(LPSTR, UINT))
{
    UINT length = get_folder(list + *used, PATH_CAPACITY);
    if (length != 0 && length < PATH_CAPACITY) {
        *used += length;
        list[(*used)++] = ';';
    }
}

// The folders a name that is not the package's own is looked up in: the system folder, the
// Windows folder, then PATH. Null when there is no memory for it.
static char* system_search_list()
{
    DWORD path_length = GetEnvironmentVariableA("PATH", NULL, 0);
    DWORD capacity = 2 * PATH_CAPACITY + path_length + 1;
    char* list = (char*)LocalAlloc(LPTR, capacity);
    if (list == NULL)
        return NULL;
    UINT used = 0;
    append_system_folder(list, &used, GetSystemDirectoryA);
    append_system_folder(list, &used, GetWindowsDirectoryA);
    // Without PATH (or with one that changed in between and no longer fits) the list ends
    // behind the Windows folder: an empty last entry might stand for the current folder.
    DWORD copied = GetEnvironmentVariableA("PATH", list + used, capacity - used);
    if (copied == 0 || copied >= capacity - used)
        list[used > 0 ? used - 1 : 0] = '\0';
    return list;
}

// The full path of the file to start: the package's own where this run's archive holds it
// (command_file), otherwise the first of that name in the system's folders and PATH in found
// (".exe" added to a name without an extension). Null when there is none.
static const char* find_command_file(const char* file, char* found)
{
    if (command_file[0] != '\0')
        return command_file;
    char* list = system_search_list();
    if (list == NULL)
        return NULL;
    // The system's folders are searched in the ANSI form: a command named there is a program
    // of the system, and the path found comes back in the run's form.
    char ansi[PATH_CAPACITY];
    DWORD length = SearchPathA(list, file, ".exe", PATH_CAPACITY, ansi, NULL);
    LocalFree(list);
    if (length == 0 || length >= PATH_CAPACITY || !ansi_to_run_text(ansi, length, found, LONG_PATH_CAPACITY))
        return NULL;
    return found;
}

// The shell start with the full path, in the target folder.
static UINT_PTR start_through_shell(const char* path, const char* file, const char* parameters)
{
    char program[MAX_PATH];
    UINT_PTR result = find_program(path, program);
    if (result == SE_NO_ASSOCIATION) {
        static char text[COMMAND_LINE_CAPACITY];
        format_checked(text, sizeof text, 3625, 3625, message_text(MSG_NO_ASSOCIATION), file);
        report_error(text, MB_ICONERROR);
        return 0;
    }
    if (result > 32) {
        const char* verb = flag_set(SFX_VERB_INSTALL) ? "Install" : NULL;
        result = shell_start(main_window, verb, path, parameters[0] ? parameters : NULL, target_folder);
        if (result > 32)
            return result;
    }
    report_start_failure((int)result, file, 3699);
    return 0;
}

// --- waiting for the command ------------------------------------------------------------------

typedef HANDLE(WINAPI* CreateJobCall)(LPSECURITY_ATTRIBUTES, LPCSTR);
typedef BOOL(WINAPI* AssignJobCall)(HANDLE, HANDLE);
typedef BOOL(WINAPI* QueryJobCall)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);

enum { JOB_POLL_MS = 100 };

// Handles every message waiting for this thread. The dialog is a top-level window even while
// hidden: a program that broadcasts with SendMessage (setups do, after they change the
// environment) waits until every such window has answered, so a wait that handled no
// messages would wait for a command that waits for it.
static void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static void wait_for_process(HANDLE process)
{
    while (MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        pump_messages();
}

// A setup often hands over to another process and ends: a job object collects every process
// the command starts. Windows 95, 98 and NT 4 have none (looked up at run time); there, and
// where the job cannot be made or joined, only the command itself is waited for.
static HANDLE join_job(HANDLE process)
{
    CreateJobCall create = (CreateJobCall)(void*)kernel_procedure("CreateJobObjectA");
    AssignJobCall assign = (AssignJobCall)(void*)kernel_procedure("AssignProcessToJobObject");
    if (create == NULL || assign == NULL)
        return NULL;
    HANDLE job = create(NULL, NULL);
    if (job != NULL && !assign(job, process)) {
        CloseHandle(job);
        job = NULL;
    }
    return job;
}

static void wait_for_job(HANDLE job)
{
    QueryJobCall query = (QueryJobCall)(void*)kernel_procedure("QueryInformationJobObject");
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    while (query != NULL && query(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting, NULL) &&
           accounting.ActiveProcesses != 0) {
        // Wakes early for a message; the job is asked again either way.
        MsgWaitForMultipleObjects(0, NULL, FALSE, JOB_POLL_MS, QS_ALLINPUT);
        pump_messages();
    }
}

// Starts the command suspended, so that it joins the job before it can start anything,
// waits until it and every process it started have ended, and makes its exit code the
// program's. A command that cannot start gets the message and exit code 2. The program is
// named twice, as its file and quoted at the head of the command line, so that no blank in
// its path can make the system try a shorter name.
static void start_and_wait(const char* path, const char* file, const char* parameters)
{
    static char command_line[COMMAND_LINE_CAPACITY];
    format_checked(command_line, sizeof command_line, 7507, 7507, parameters[0] ? "\"%s\" %s" : "\"%s\"", path,
                   parameters);
    PROCESS_INFORMATION started;
    if (!start_suspended(path, command_line, &started)) {
        report_start_failure((int)GetLastError(), file, 7400);
        return;
    }
    if (main_window != NULL)
        ShowWindow(main_window, SW_HIDE);
    HANDLE job = join_job(started.hProcess);
    ResumeThread(started.hThread);
    wait_for_process(started.hProcess);
    if (job != NULL) {
        wait_for_job(job);
        CloseHandle(job);
    }
    DWORD code = EXIT_FAILED;
    GetExitCodeProcess(started.hProcess, &code);
    exit_code = (int)code;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
}

// The archiver's line as it stands, with WinExec.
static UINT_PTR start_plain(const char* file, const char* parameters)
{
    static char command_line[COMMAND_LINE_CAPACITY];
    copy_checked(command_line, sizeof command_line, file, 3607);
    if (parameters[0] != '\0') {
        append_checked(command_line, sizeof command_line, " ", 3610);
        append_checked(command_line, sizeof command_line, parameters, 3611);
    }
    return WinExec(command_line, SW_SHOWNORMAL);
}

UINT_PTR run_command(const char* file, const char* parameters, StartMode mode)
{
    if (mode == START_PLAIN)
        return start_plain(file, parameters);
    static char found[LONG_PATH_CAPACITY];
    const char* path = find_command_file(file, found);
    if (path == NULL) {
        report_start_failure(ERROR_FILE_NOT_FOUND, file, 7506);
        return 0;
    }
    if (flag_set(SFX_WAIT | SFX_CLEANUP)) {
        start_and_wait(path, file, parameters);
        return 0;
    }
    return start_through_shell(path, file, parameters);
}

// The registered command with everything behind its first blank replaced by the quoted path
// of the program's own file. A command without a blank gets the path appended.
static void point_command_at_self(char* command)
{
    char* blank = strchr(command, ' ');
    char* tail = blank ? blank + 1 : command + strlen(command);
    if (!blank) {
        if (tail + 1 >= command + ARCHIVER_COMMAND_CAPACITY)
            internal_error_at(3728);
        *tail++ = ' ';
    }
    size_t room = ARCHIVER_COMMAND_CAPACITY - (tail - command);
    format_checked(tail, room, 3728, 3728, "\"%s\"", self_path);
}

bool open_in_archiver()
{
    char command[ARCHIVER_COMMAND_CAPACITY];
    LONG size = sizeof command;
    bool shift_down = GetKeyState(VK_SHIFT) < 0;
    if (!shift_down && RegQueryValueA(HKEY_CLASSES_ROOT, "tarvel\\shell\\open\\command", command, &size) == ERROR_SUCCESS) {
        point_command_at_self(command);
        // A spanned archive opens as its ".ZIP" volume: the extension before the closing quote.
        if (flag_set(SFX_MULTI_VOLUME) && !flag_set(SFX_EXE_VOLUMES)) {
            size_t length = strlen(command);
            if (length >= 4)
                memcpy(command + length - 4, "zip", 3);
        }
        // WinExec answers 31 or less when the program could not be started.
        if (run_command(command, "", START_PLAIN) > 31)
            return true;
    }
    show_box(message_text(MSG_ARCHIVER_NOT_FOUND), MB_OK);
    return false;
}
