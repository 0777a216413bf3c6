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

enum { COMMAND_LINE_CAPACITY = 739, ARCHIVER_COMMAND_CAPACITY = 261 };
// FindExecutable's answer for a file whose type has no associated program.
enum { SE_NO_ASSOCIATION = 31 };

static UINT_PTR start_through_shell(const char* file, const char* parameters)
{
    char program[COMMAND_LINE_CAPACITY];
    char text[COMMAND_LINE_CAPACITY];
    UINT_PTR result = (UINT_PTR)FindExecutableA(file, NULL, program);
    if (result == SE_NO_ASSOCIATION) {
        format_checked(text, sizeof text, 3625, 3625, message_text(MSG_NO_ASSOCIATION), file);
        report_error(text, MB_ICONERROR);
        return 0;
    }
    if (result > 32) {
        const char* verb = flag_set(SFX_VERB_INSTALL) ? "Install" : NULL;
        result = (UINT_PTR)ShellExecuteA(main_window, verb, file, parameters[0] ? parameters : NULL, NULL,
                                         SW_SHOWNORMAL);
        if (result > 32)
            return result;
    }
    format_checked(text, sizeof text, 3699, 3699, message_text(MSG_COMMAND_FAILED), (int)result, file);
    report_error(text, MB_OK);
    return 0;
}

// --- waiting for the command ------------------------------------------------------------------

typedef HANDLE(WINAPI* CreateJobCall)(LPSECURITY_ATTRIBUTES, LPCSTR);
typedef BOOL(WINAPI* AssignJobCall)(HANDLE, HANDLE);
typedef BOOL(WINAPI* QueryJobCall)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);

enum { JOB_POLL_MS = 100 };

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
           accounting.ActiveProcesses != 0)
        Sleep(JOB_POLL_MS);
}

// Starts the command line suspended, so that it joins the job before it can start anything,
// waits until it and every process it started have ended, and makes its exit code the
// program's. A command that cannot start gets the message and exit code 2.
static void start_and_wait(char* command_line, const char* file)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION started;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, command_line, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &started)) {
        char text[COMMAND_LINE_CAPACITY];
        format_checked(text, sizeof text, 7400, 7400, message_text(MSG_COMMAND_FAILED), (int)GetLastError(), file);
        report_error(text, MB_OK);
        return;
    }
    if (main_window != NULL)
        ShowWindow(main_window, SW_HIDE);
    HANDLE job = join_job(started.hProcess);
    ResumeThread(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
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

UINT_PTR run_command(const char* file, const char* parameters, StartMode mode)
{
    char command_line[COMMAND_LINE_CAPACITY];
    copy_checked(command_line, sizeof command_line, file, 3607);
    if (parameters[0] != '\0') {
        append_checked(command_line, sizeof command_line, " ", 3610);
        append_checked(command_line, sizeof command_line, parameters, 3611);
    }
    if (mode == START_PLAIN)
        return WinExec(command_line, SW_SHOWNORMAL);
    if (flag_set(SFX_WAIT | SFX_CLEANUP)) {
        start_and_wait(command_line, file);
        return 0;
    }
    return start_through_shell(file, parameters);
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
