// The language of the stub's texts. SFX_LANGUAGE_EN asks for English, SFX_LANGUAGE_AUTO for the
// language of the user's Windows (German when it is German, else English), neither for German.
#include "language.h"

#include "globals.h"
#include "log.h"
#include "system.h"

typedef LANGID(WINAPI* UiLanguageCall)();

// The user's UI language. Windows 95, 98, Me and NT 4 have no GetUserDefaultUILanguage (it came
// with Windows 2000), so it is looked up; without it the system's default language stands in:
// there it is the language of the installed Windows, which is what the user reads.
static LANGID user_ui_language()
{
    UiLanguageCall call = (UiLanguageCall)(void*)kernel_procedure("GetUserDefaultUILanguage");
    return call ? call() : GetSystemDefaultLangID();
}

static Language package_language()
{
    if (flag_set(SFX_LANGUAGE_EN))
        return LANGUAGE_ENGLISH;
    if (flag_set(SFX_LANGUAGE_AUTO))
        return PRIMARYLANGID(user_ui_language()) == LANG_GERMAN ? LANGUAGE_GERMAN : LANGUAGE_ENGLISH;
    return LANGUAGE_GERMAN;
}

void choose_language()
{
    texts = &text_sets[package_language()];
    set_log_language(texts);
}
