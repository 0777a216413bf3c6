// A stand-in stub for the builder's tests: a small console program with a StubRecord in its
// initialised data, like the real stub. Run under Wine after a build, it checks that the
// loader mapped the attached section: exit code 0 when its memory matches the file. Built for
// i686 (PE32) and for x86-64 (PE32+), the kinds of stub image the builder takes.
#include <windows.h>

#include <string.h>

#include "format/stub_record.h"

// The builder fills this record; the program only reads it, as loaded.
__attribute__((used, section(".data"))) StubRecord stub_record = {{STUB_MARKER_BYTES}, 0, 0, 0, 0, 0, 0,
                                                                  0, 0, 0, 0, 0, 0, 0, 0};

enum FixtureResult {
    LOADED_OK = 0,
    WRONG_ENTRY_POINT = 3,
    NO_ATTACHED_SECTION = 4,
    WRONG_RAW_START = 5,
    FILE_UNREADABLE = 6,
    MEMORY_DIFFERS = 7,
    NOT_COMPLETE = 8,
};

static const IMAGE_NT_HEADERS* image_headers(HMODULE base)
{
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    return (const IMAGE_NT_HEADERS*)((const BYTE*)base + dos->e_lfanew);
}

// Reads `size` bytes of the program's own file at `offset`.
static BOOL read_own_file(DWORD offset, BYTE* buffer, DWORD size)
{
    char path[MAX_PATH];
    if (GetModuleFileNameA(NULL, path, sizeof path) == 0)
        return FALSE;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD got = 0;
    BOOL ok = SetFilePointer(file, (LONG)offset, NULL, FILE_BEGIN) == offset &&
              ReadFile(file, buffer, size, &got, NULL) && got == size;
    CloseHandle(file);
    return ok;
}

int main()
{
    HMODULE base = GetModuleHandleA(NULL);
    const IMAGE_NT_HEADERS* nt = image_headers(base);
    if (stub_record.complete == 0)
        return NOT_COMPLETE;
    if (nt->OptionalHeader.AddressOfEntryPoint != stub_record.entry_point)
        return WRONG_ENTRY_POINT;
    const IMAGE_SECTION_HEADER* last = IMAGE_FIRST_SECTION(nt) + nt->FileHeader.NumberOfSections - 1;
    if (memcmp(last->Name, ATTACHED_SECTION_NAME, 8) != 0)
        return NO_ATTACHED_SECTION;
    if (last->PointerToRawData != stub_record.config_offset)
        return WRONG_RAW_START;

    // The configuration block and the archive's first bytes, once from the file and once
    // from the mapped section, must agree.
    static BYTE from_file[4096];
    DWORD size = last->Misc.VirtualSize < sizeof from_file ? last->Misc.VirtualSize : sizeof from_file;
    if (!read_own_file(stub_record.config_offset, from_file, size))
        return FILE_UNREADABLE;
    if (memcmp(from_file, (const BYTE*)base + last->VirtualAddress, size) != 0)
        return MEMORY_DIFFERS;
    return LOADED_OK;
}
