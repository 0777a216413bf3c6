/* tvmsgbox.exe FLAGS TEXT: shows one message box, for the bench's own tests.
 *
 * An ANSI program like the stub: TEXT arrives through the ANSI command line and goes to
 * MessageBoxA, so reading it back proves the code page conversion on the way out. FLAGS is
 * the MessageBox style (decimal or 0x...). The exit code is the id of the pressed button. */
#include <windows.h>

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    char *text = NULL;
    (void)instance; (void)previous; (void)show;
    UINT flags = (UINT)strtoul(arguments, &text, 0);
    while (*text == ' ') text++;
    return MessageBoxA(NULL, text, "Tarvel Bench", flags);
}
