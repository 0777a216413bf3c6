// A package without a folder of its own extracts into a new folder inside the temporary
// folder, never into the temporary folder itself: anything there may have been planted by
// another program or user (a setup.exe the command would start, a DLL beside it), and two runs
// would share, replace and remove each other's files. The new folder's name comes from the
// system's cryptographic random source, and it is created with a call that fails when the name
// exists, so nothing that was there before the run is ever used. Its access list lets in only
// the user, SYSTEM and the Administrators.
#include "private_folder.h"

#include <string.h>
#include <windows.h>

#include "cleanup.h"
#include "failure.h"
#include "globals.h"
#include "log.h"
#include "message_ids.h"
#include "system.h"

// "tvsfx-" and 16 hexadecimal digits: 64 random bits. A name that exists takes another draw.
enum { PRIVATE_NAME_LENGTH = 22, PRIVATE_FOLDER_TRIES = 16 };

// The revision of the access-list text form (sddl.h).
enum { ACCESS_TEXT_REVISION = 1 };

typedef BOOLEAN(WINAPI* GenRandomCall)(PVOID, ULONG);
typedef BOOL(WINAPI* OpenTokenCall)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* TokenInfoCall)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI* SidToTextCall)(PSID, LPSTR*);
typedef BOOL(WINAPI* TextToDescriptorCall)(LPCSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);

// 64 bits from RtlGenRandom (advapi32's SystemFunction036, Windows XP and later). Older systems
// lack it: there the counters of the moment make the name. Such a name can be guessed, but not
// planted: the creation fails on a name that exists.
static void draw_random(DWORD bits[2])
{
    GenRandomCall generate = (GenRandomCall)(void*)advapi_procedure("SystemFunction036");
    if (generate != NULL && generate(bits, 2 * sizeof(DWORD)))
        return;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    bits[0] = counter.LowPart ^ GetTickCount();
    bits[1] = (DWORD)counter.HighPart ^ GetCurrentProcessId() ^ (GetCurrentThreadId() << 16);
}

// The user's security identifier in its text form ("S-1-5-21-..."), LocalAlloc'ed, or NULL.
static char* user_sid_text()
{
    OpenTokenCall open_token = (OpenTokenCall)(void*)advapi_procedure("OpenProcessToken");
    TokenInfoCall token_info = (TokenInfoCall)(void*)advapi_procedure("GetTokenInformation");
    SidToTextCall sid_to_text = (SidToTextCall)(void*)advapi_procedure("ConvertSidToStringSidA");
    HANDLE token;
    if (open_token == NULL || token_info == NULL || sid_to_text == NULL ||
        !open_token(GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;
    // TOKEN_USER and the SID it points to (at most 68 bytes).
    union {
        TOKEN_USER user;
        BYTE room[128];
    } token_user;
    DWORD size;
    char* text = NULL;
    if (!token_info(token, TokenUser, &token_user, sizeof token_user, &size) ||
        !sid_to_text(token_user.user.User.Sid, &text))
        text = NULL;
    CloseHandle(token);
    return text;
}

// Full access for the user, SYSTEM and the Administrators, inherited by everything inside; no
// access inherited from the temporary folder. NULL on systems without access lists (Windows 95,
// 98, Me) and without the text form of them (NT 4): the folder then gets the default security.
static PSECURITY_DESCRIPTOR private_descriptor()
{
    TextToDescriptorCall text_to_descriptor =
        (TextToDescriptorCall)(void*)advapi_procedure("ConvertStringSecurityDescriptorToSecurityDescriptorA");
    char* sid = text_to_descriptor != NULL ? user_sid_text() : NULL;
    if (sid == NULL)
        return NULL;
    char text[320];
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (strlen(sid) < 200) {
        format_checked(text, sizeof text, 7620, 7620, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)", sid);
        if (!text_to_descriptor(text, ACCESS_TEXT_REVISION, &descriptor, NULL))
            descriptor = NULL;
    }
    LocalFree(sid);
    return descriptor;
}

static bool report_not_created(const char* path)
{
    format_checked(message_buffer, MESSAGE_SCRATCH_CAPACITY, 7630, 7631, message_text(MSG_CREATE_FOLDER_FAILED), path);
    report_error(message_buffer, MB_ICONERROR);
    return false;
}

bool make_private_folder(char* folder, size_t capacity)
{
    static char path[LONG_PATH_CAPACITY];
    copy_checked(path, sizeof path, folder, 7640);
    append_separator(path, sizeof path, 7641);
    size_t name_start = strlen(path);
    if (name_start + PRIVATE_NAME_LENGTH >= sizeof path)
        return report_not_created(folder);
    SECURITY_ATTRIBUTES security = {sizeof security, private_descriptor(), FALSE};
    bool made = false;
    for (int i = 0; i < PRIVATE_FOLDER_TRIES && !made; ++i) {
        DWORD bits[2];
        draw_random(bits);
        format_checked(path + name_start, sizeof path - name_start, 7642, 7643, "tvsfx-%08lX%08lX", bits[0], bits[1]);
        made = create_folder_path(path, security.lpSecurityDescriptor != NULL ? &security : NULL) != FALSE;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (security.lpSecurityDescriptor != NULL)
        LocalFree(security.lpSecurityDescriptor);
    if (!made)
        return report_not_created(path);
    remember_created_folder(path);
    log_private_folder(path);
    copy_checked(folder, capacity, path, 7644);
    return true;
}
