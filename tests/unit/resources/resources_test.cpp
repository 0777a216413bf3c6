// Checks the generated resource data against the dialogs and texts the stub must show.
// The blobs are decoded with zlib (a reference independent of the stub's own decoder), the
// texts are converted from code page 850 to Windows-1252 with iconv as OemToCharBuffA does on a
// Western system, and the templates are read back with a small DLGTEMPLATE reader of our own.
#include <gtest/gtest.h>
#include <iconv.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "config_fields.h"
#include "message_ids.h"
#include "resource_data.h"

namespace {

// Loaded-form limits of the stub: a 6117-byte block whose last two bytes are guards, the
// 1024-byte copy of the main template, and the 600-byte block of the password template.
constexpr size_t MESSAGE_BLOCK_GUARD_OFFSET = 6115;
constexpr size_t MAIN_TEMPLATE_COPY_SIZE = 1024;
constexpr size_t PASSWORD_TEMPLATE_BLOCK_SIZE = 600;

// Sizes of the two templates as a resource compiler lays them out (strings UTF-16, predefined
// classes as atoms, controls on 4-byte boundaries, no padding after the last control).
constexpr size_t MAIN_TEMPLATE_SIZE = 678;
constexpr size_t PASSWORD_TEMPLATE_SIZE = 432;

using Bytes = std::vector<uint8_t>;

// Inflates one raw Deflate stream that must end exactly at the end of its input.
Bytes inflate_raw(const uint8_t* data, size_t size)
{
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
    Bytes out(65536);
    stream.next_in = const_cast<uint8_t*>(data);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u) << "bytes left behind the end of the stream";
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

// Converts with iconv; a character without a form in the target code page fails the test.
std::string convert(const std::string& text, const char* from, const char* to)
{
    iconv_t converter = iconv_open(to, from);
    if (converter == (iconv_t)-1) {
        ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
        return {};
    }
    std::string in = text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in_cursor = in.data();
    char* out_cursor = out.data();
    size_t in_left = in.size();
    size_t out_left = out.size();
    if (iconv(converter, &in_cursor, &in_left, &out_cursor, &out_left) == (size_t)-1)
        ADD_FAILURE() << "iconv " << from << " -> " << to << " failed at byte " << in.size() - in_left;
    iconv_close(converter);
    out.resize(out.size() - out_left);
    return out;
}

std::string windows_1252(const char* utf8) { return convert(utf8, "UTF-8", "CP1252"); }

bool contains(const uint8_t* data, size_t size, const std::string& sequence)
{
    const uint8_t* end = data + size;
    return std::search(data, end, sequence.begin(), sequence.end(),
                       [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }) != end;
}

// --- a DLGTEMPLATE reader -------------------------------------------------------------------

struct ParsedControl {
    uint32_t style = 0, ex_style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    bool class_is_atom = false;
    std::string cls;            // atom 0x80/0x81/0x82 read back as BUTTON/EDIT/STATIC
    std::u16string text;
    uint16_t creation_bytes = 0;
};

struct ParsedDialog {
    uint32_t style = 0, ex_style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::u16string menu, window_class, title;
    uint16_t point_size = 0;
    std::u16string font;
    std::vector<ParsedControl> controls;
    size_t size = 0;            // bytes up to the end of the last control
    bool ok = false;
};

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool ok = true;

    uint16_t u16()
    {
        if (pos + 2 > size) { ok = false; return 0; }
        uint16_t value = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return value;
    }
    uint32_t u32() { uint32_t low = u16(); return low | static_cast<uint32_t>(u16()) << 16; }
    int16_t i16() { return static_cast<int16_t>(u16()); }
    std::u16string string()
    {
        std::u16string text;
        for (uint16_t c = u16(); ok && c != 0; c = u16())
            text += static_cast<char16_t>(c);
        return text;
    }
    void align_dword() { pos = (pos + 3) & ~size_t(3); }
};

// Reads a class, menu or title field: 0xFFFF + atom, or a string.
std::u16string read_name_or_atom(Reader& in, bool& is_atom, uint16_t& atom)
{
    is_atom = false;
    if (in.pos + 2 <= in.size && in.data[in.pos] == 0xFF && in.data[in.pos + 1] == 0xFF) {
        in.u16();
        is_atom = true;
        atom = in.u16();
        return {};
    }
    return in.string();
}

std::string class_name(bool is_atom, uint16_t atom, const std::u16string& name)
{
    if (is_atom) {
        switch (atom) {
        case 0x80: return "BUTTON";
        case 0x81: return "EDIT";
        case 0x82: return "STATIC";
        default: return "atom " + std::to_string(atom);
        }
    }
    return std::string(name.begin(), name.end());
}

ParsedControl read_control(Reader& in)
{
    ParsedControl control;
    in.align_dword();
    control.style = in.u32();
    control.ex_style = in.u32();
    control.x = in.i16();
    control.y = in.i16();
    control.cx = in.i16();
    control.cy = in.i16();
    control.id = in.u16();
    bool atom_flag = false;
    uint16_t atom = 0;
    std::u16string name = read_name_or_atom(in, atom_flag, atom);
    control.class_is_atom = atom_flag;
    control.cls = class_name(atom_flag, atom, name);
    control.text = read_name_or_atom(in, atom_flag, atom);
    EXPECT_FALSE(atom_flag) << "control " << control.id << " has a resource id as text";
    control.creation_bytes = in.u16();
    in.pos += control.creation_bytes;
    return control;
}

ParsedDialog read_template(const uint8_t* data, size_t size)
{
    constexpr uint32_t DS_SETFONT = 0x40;
    Reader in{data, size};
    ParsedDialog dialog;
    dialog.style = in.u32();
    dialog.ex_style = in.u32();
    uint16_t count = in.u16();
    dialog.x = in.i16();
    dialog.y = in.i16();
    dialog.cx = in.i16();
    dialog.cy = in.i16();
    bool is_atom = false;
    uint16_t atom = 0;
    dialog.menu = read_name_or_atom(in, is_atom, atom);
    EXPECT_FALSE(is_atom) << "menu given as a resource id";
    dialog.window_class = read_name_or_atom(in, is_atom, atom);
    EXPECT_FALSE(is_atom) << "dialog class given as an atom";
    dialog.title = in.string();
    if (dialog.style & DS_SETFONT) {
        dialog.point_size = in.u16();
        dialog.font = in.string();
    }
    for (uint16_t i = 0; i < count && in.ok; ++i)
        dialog.controls.push_back(read_control(in));
    dialog.size = in.pos;
    dialog.ok = in.ok && in.pos <= size;
    return dialog;
}

// --- expected dialogs -----------------------------------------------------------------------

struct ExpectedControl {
    uint16_t id;
    const char* cls;
    const char16_t* text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

struct ExpectedDialog {
    uint32_t style;
    int16_t x, y, cx, cy;
    const char16_t* title;
    std::vector<ExpectedControl> controls;
};

// WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_3DLOOK
constexpr uint32_t DIALOG_STYLE = 0x90C800CC;

const ExpectedDialog MAIN_DIALOG = {
    DIALOG_STYLE, 43, 29, 270, 114, u"",
    {
        {101, "STATIC", u"", 0x50020080, 6, 6, 200, 24},
        {105, "STATIC", u"E&xtrahieren nach: ", 0x50020000, 6, 34, 74, 8},
        {106, "EDIT", u"", 0x50810080, 6, 43, 144, 12},
        {115, "BUTTON", u"&Durchsuchen...", 0x50010000, 152, 42, 54, 14},
        {102, "BUTTON", u"Dateien ohne &Rückfrage überschreiben", 0x50010003, 6, 60, 198, 10},
        {111, "BUTTON", u"", 0x50010003, 6, 74, 198, 10},
        {1, "BUTTON", u"&Extrahieren", 0x50010001, 210, 6, 54, 14},
        {113, "BUTTON", u"&Tarvel starten", 0x50010000, 210, 24, 54, 14},
        {2, "BUTTON", u"Sch&ließen", 0x50010000, 210, 42, 54, 14},
        {112, "BUTTON", u"&Info", 0x50010000, 210, 60, 54, 14},
        {104, "BUTTON", u"&Hilfe", 0x50010000, 210, 78, 54, 14},
        {103, "STATIC", u"", 0x50020080, 17, 86, 187, 8},
        {109, "STATIC", u"", 0x50020081, 0, 101, 270, 8},
        {201, "meter", u"", 0x50800000, 6, 98, 258, 12},
    }};

const ExpectedDialog PASSWORD_DIALOG = {
    DIALOG_STYLE, 71, 71, 192, 76, u"Tarvel Self-Extractor - Kennwort",
    {
        {401, "STATIC",
         u"Dieses selbstextrahierende Archiv ist kennwortgeschützt.\n\nBitte geben Sie das &Kennwort ein:",
         0x50020000, 6, 6, 179, 24},
        {402, "EDIT", u"", 0x508100A0, 6, 32, 179, 12},
        {1, "BUTTON", u"OK", 0x50010001, 37, 56, 50, 14},
        {2, "BUTTON", u"Abbrechen", 0x50010000, 105, 56, 50, 14},
    }};

void expect_dialog(const ParsedDialog& dialog, const ExpectedDialog& expected)
{
    ASSERT_TRUE(dialog.ok) << "template ends inside a field";
    EXPECT_EQ(dialog.style, expected.style);
    EXPECT_EQ(dialog.ex_style, 0u);
    EXPECT_EQ(dialog.x, expected.x);
    EXPECT_EQ(dialog.y, expected.y);
    EXPECT_EQ(dialog.cx, expected.cx);
    EXPECT_EQ(dialog.cy, expected.cy);
    EXPECT_EQ(dialog.menu, u"");
    EXPECT_EQ(dialog.window_class, u"");
    EXPECT_EQ(dialog.title, expected.title);
    EXPECT_EQ(dialog.point_size, 8);
    EXPECT_EQ(dialog.font, u"MS Shell Dlg");
    ASSERT_EQ(dialog.controls.size(), expected.controls.size());
    for (size_t i = 0; i < expected.controls.size(); ++i) {
        const ParsedControl& control = dialog.controls[i];
        const ExpectedControl& want = expected.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
        EXPECT_EQ(control.id, want.id);
        EXPECT_EQ(control.cls, want.cls);
        // Predefined classes are stored as atoms; the meter by its class name.
        EXPECT_EQ(control.class_is_atom, std::string(want.cls) != "meter");
        EXPECT_EQ(control.text, want.text);
        EXPECT_EQ(control.style, want.style);
        EXPECT_EQ(control.ex_style, 0u);
        EXPECT_EQ(control.x, want.x);
        EXPECT_EQ(control.y, want.y);
        EXPECT_EQ(control.cx, want.cx);
        EXPECT_EQ(control.cy, want.cy);
        EXPECT_EQ(control.creation_bytes, 0);
    }
}

// --- expected message texts -----------------------------------------------------------------

struct ExpectedMessage {
    int id;
    const char* utf8;
};

const ExpectedMessage MESSAGES[MESSAGE_TEXT_COUNT] = {
    {MSG_INCOMPLETE,
     u8"Das selbstextrahierende Archiv ist unvollständig;\nErstellen Sie bitte die Datei "
     u8"erneut und wiederholen Sie den Vorgang."},
    {MSG_INSERT_DISK, u8"Bitte legen Sie Datenträger %d in Laufwerk %s ein."},
    {MSG_INSERT_LAST_DISK,
     u8"Bitte legen Sie den letzten Datenträger des Sicherungssatzes in Laufwerk %s ein."},
    {MSG_NO_DISK,
     u8"Kein Datenträger oder Datenträger wurde nicht erkannt.\nBitte legen Sie Datenträger "
     u8"%d ein."},
    {MSG_DISK_LABEL,
     u8"Der Datenträger im Laufwerk fehlt\noder hat eine falsche Bezeichnung.\nLegen Sie "
     u8"Datenträger %d ein."},
    {MSG_NO_PASSWORD, u8"Kein Kennwort angegeben"},
    {MSG_WRONG_PASSWORD, u8"Falsches Kennwort angegeben"},
    {MSG_NOAUTO, u8"NOAUTO"},
    {MSG_SETUP, u8"Setup"},
    {MSG_AUTO, u8"AUTO"},
    {MSG_WINDOWS_VERSION,
     u8"Dieses selbstextrahierende 32-Bit-Archiv erfordert Windows 95, 98, Me, NT oder 2000."},
    {MSG_ASK_CANCEL, u8"Extrahieren abbrechen?"},
    {MSG_FILE_IN_USE, u8"Datei %s wird vom System benutzt. Überspringe ..."},
    {MSG_EXTRACTION_CANCELLED, u8"Extrahieren abgebrochen"},
    {MSG_COMMAND_FAILED, u8"Fehler %d beim Ausführen des Befehls %s"},
    {MSG_CHANGE_FOLDER_FAILED, u8"Fehler beim Wechseln in das \"Extrahieren nach\"-Verzeichnis"},
    {MSG_ASK_OVERWRITE, u8"Datei %s existiert bereits. Überschreiben"},
    {MSG_NO_FOLDER, u8"Kein Ordner angegeben."},
    {MSG_TEMP_SUFFIX, u8"\\TEMP"},
    {MSG_SHORT_NAMES,
     u8"Diese Datei sollte nur unter Windows 95, 98, Me, NT oder 2000 bzw. auf einem System "
     u8"mit kompatibler Unterstützung für lange Dateinamen verwendet werden.\nIm aktiven "
     u8"Windows werden Dateinamen verkürzt, was zu Problemen führen kann.\n\nTrotzdem "
     u8"fortfahren?"},
    {MSG_TEMP_ASSIGNMENT, u8"TEMP="},
    {MSG_FILES_EXTRACTED, u8"%d Datei(en) erfolgreich extrahiert"},
    {MSG_EXTRACT_HINT,
     u8"Wählen Sie Extrahieren, um alle Dateien in %s in den angegebenen Ordner zu "
     u8"entpacken."},
    {MSG_ARCHIVER_NAME, u8"Tarvel"},
    {MSG_EXTENSIONS, u8"Erweiterungen"},
    {MSG_RUN_AFTER, u8"Nach dem Extrahieren &ausführen: "},
    {MSG_UNUSED_26, u8""},
    {MSG_ARCHIVER_NOT_FOUND,
     u8"Tarvel konnte nicht gefunden werden.\n\nTarvel ist ein Archivprogramm zum Packen "
     u8"und Entpacken von ZIP-Dateien. Sie erhalten es unter https://www.tarvel.example/"},
    {MSG_CREATE_OUTPUT_FAILED, u8"Ausgabedatei konnte nicht erstellt werden: %s"},
    {MSG_UNSUPPORTED_METHOD, u8"Nicht unterstützte Kompressionsmethode"},
    {MSG_BAD_CRC,
     u8"ZIP-Archiv beschädigt: Datei %s: Fehlerhafter CRC. Mögliche Ursache: "
     u8"Dateiübertragungsfehler."},
    {MSG_BAD_HEADER, u8"Ungültiger Header im Archiv. Mögliche Ursache: Dateiübertragungsfehler."},
    {MSG_CREATE_FOLDER_FAILED, u8"\"%s\" konnte nicht erstellt werden - Extrahieren abgebrochen."},
    {MSG_BAD_FOLDER_ARGUMENT, u8"Fehler bei der Ordnerangabe in der Befehlszeile."},
    {MSG_EXTRACTING, u8"Extrahiere %s"},
    {MSG_WRITE_FAILED, u8"Fehler beim Schreiben von %s. Mögliche Ursache: Datenträger voll."},
    {MSG_READ_FAILED,
     u8"Fehler beim Lesen von %s. Mögliche Ursache: Fehlerhafter Datenträger oder "
     u8"Dateiübertragungsfehler."},
    {MSG_IO_ERROR, u8"E/A-Fehler bei Datei. Mögliche Ursache: Dateiübertragungsfehler."},
    {MSG_HELP,
     u8"Wählen Sie \"Extrahieren\", um alle Dateien in %s zu entpacken. Die Dateien werden "
     u8"in den im Feld \"Extrahieren nach\" angegebenen Ordner entpackt. Wenn dieser Ordner "
     u8"nicht existiert, wird er automatisch angelegt.\n\nSie können diese Datei auch mit "
     u8"einem Standard-Packprogramm wie Tarvel entpacken."},
    {MSG_ARCHIVE_DAMAGED,
     u8"Archiv ist beschädigt oder wurde verkürzt bzw. nach dem Anlegen geändert. Wenn "
     u8"diese Datei aus einer Online-Quelle stammt, laden Sie sie erneut herunter."},
    {MSG_INFO_LAYOUT, u8"%s\n\n%s\n"},
    {MSG_FILES_TESTED, u8"%d Datei(en) geprüft, keine Fehler"},
    {MSG_TESTING, u8"Überprüfe %s"},
    {MSG_LZMA_DICTIONARY_TOO_LARGE, u8"Datei %s: Das LZMA-Wörterbuch von %u MB ist größer als die höchstens %u MB, die dieses Programm verarbeitet."},
    {MSG_LZMA_NO_MEMORY, u8"Datei %s: Nicht genügend Speicher für das LZMA-Wörterbuch (%u MB)."},
    {MSG_INVALID_DRIVE, u8"Laufwerk %s ist ungültig, Extrahieren abgebrochen."},
    {MSG_NO_ASSOCIATION,
     u8"Befehlsdatei %s konnte nicht benutzt werden.\nEs ist keine Windows-Verknüpfung "
     u8"definiert."},
    {MSG_TMP_ASSIGNMENT, u8"TMP="},
    {MSG_EXTRACT_TO, u8"Extrahieren nach:"},
    {MSG_TEMP_NAME, u8"TEMP"},
    {MSG_NAMES_TOO_LONG,
     u8"Das Archiv enthält Dateien, deren Namen die in Windows\nzulässige Länge "
     u8"überschreiten, und kann daher\nvom Tarvel Self-Extractor nicht verarbeitet werden."},
    {MSG_THIS_ARCHIVE, u8"diesem selbstextrahierenden Archiv"},
    {MSG_BAD_FOLDER_CHARACTERS,
     u8"Der ausgewählte Ordnername enthält nicht unterstützte Zeichen,\nbitte geben Sie "
     u8"einen anderen Ordnernamen an."},
    {MSG_INVALID_PARAMETER, u8"Invalid command line parameter (%s)."},
};

// --- shared fixtures ------------------------------------------------------------------------

const Bytes& message_data()
{
    static const Bytes data = inflate_raw(message_blob, message_blob_size);
    return data;
}

// The table as the stub holds it after loading: the text part converted from the OEM code page
// (850) to the ANSI code page (1252), the template behind it untouched.
const Bytes& loaded_messages()
{
    static const Bytes loaded = [] {
        Bytes data = message_data();
        size_t text_size = message_offsets[MSG_MAIN_DIALOG];
        std::string texts(data.begin(), data.begin() + text_size);
        std::string ansi = convert(texts, "CP850", "CP1252");
        EXPECT_EQ(ansi.size(), text_size) << "the conversion must keep one byte per character";
        std::copy(ansi.begin(), ansi.begin() + std::min(ansi.size(), text_size), data.begin());
        return data;
    }();
    return loaded;
}

std::string loaded_text(int id)
{
    const Bytes& data = loaded_messages();
    return std::string(reinterpret_cast<const char*>(data.data()) + message_offsets[id]);
}

// --- message table --------------------------------------------------------------------------

TEST(MessageBlob, InflatesToTextsAndTemplateThatFitTheLoadedBlock)
{
    const Bytes& data = message_data();
    ASSERT_EQ(data.size(), message_data_size);
    EXPECT_EQ(message_offsets[MSG_MAIN_DIALOG] + main_template_size, message_data_size);
    EXPECT_EQ(main_template_size, MAIN_TEMPLATE_SIZE);
    // The entry function copies 1024 bytes from the template's offset: they must all lie in
    // the zero-filled part of the block, before the guard bytes.
    EXPECT_LE(message_offsets[MSG_MAIN_DIALOG] + MAIN_TEMPLATE_COPY_SIZE, MESSAGE_BLOCK_GUARD_OFFSET);
}

TEST(MessageTable, OffsetsDelimitTheNulTerminatedTexts)
{
    const Bytes& data = message_data();
    ASSERT_EQ(data.size(), message_data_size);
    EXPECT_EQ(message_offsets[0], 0u);
    for (int id = 0; id < MESSAGE_TEXT_COUNT; ++id) {
        uint32_t start = message_offsets[id];
        uint32_t next = message_offsets[id + 1];
        ASSERT_LT(start, next) << "message " << id;
        ASSERT_LE(next, message_offsets[MSG_MAIN_DIALOG]) << "message " << id;
        const char* text = reinterpret_cast<const char*>(data.data()) + start;
        EXPECT_EQ(strnlen(text, next - start), next - start - 1) << "message " << id;
    }
    // The text part ends exactly where the template begins: with the NUL of message 53.
    EXPECT_EQ(data[message_offsets[MSG_MAIN_DIALOG] - 1], 0);
}

// Every id in order, the empty slots included (they must read as "").
TEST(MessageTable, EveryTextMatchesAfterConversionToTheAnsiCodePage)
{
    for (int id = 0; id < MESSAGE_TEXT_COUNT; ++id) {
        ASSERT_EQ(MESSAGES[id].id, id) << "expected table out of order";
        EXPECT_EQ(loaded_text(id), windows_1252(MESSAGES[id].utf8)) << "message " << id;
    }
}

TEST(MessageTable, UmlautsAreStoredInCodePage850AndLoadedAsWindows1252)
{
    struct Case { int id; const char* word; size_t index; uint8_t oem; uint8_t ansi; };
    const Case cases[] = {
        {MSG_INCOMPLETE, "unvollständig", 8, 0x84, 0xE4},           // ä
        {MSG_BAD_HEADER, "Mögliche", 1, 0x94, 0xF6},                // ö
        {MSG_UNSUPPORTED_METHOD, "unterstützte", 7, 0x81, 0xFC},    // ü
        {MSG_ASK_OVERWRITE, "Überschreiben", 0, 0x9A, 0xDC},        // Ü
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        std::string loaded = loaded_text(c.id);
        size_t at = loaded.find(windows_1252(c.word));
        ASSERT_NE(at, std::string::npos);
        const uint8_t* stored = message_data().data() + message_offsets[c.id] + at + c.index;
        EXPECT_EQ(*stored, c.oem);
        EXPECT_EQ(static_cast<uint8_t>(loaded[at + c.index]), c.ansi);
    }
}

// --- dialog templates -----------------------------------------------------------------------

TEST(MainTemplate, MatchesTheDialogAndIsLeftAloneByTheTextConversion)
{
    uint32_t offset = message_offsets[MSG_MAIN_DIALOG];
    const Bytes& loaded = loaded_messages();
    ASSERT_EQ(loaded.size(), message_data_size);
    EXPECT_TRUE(std::equal(loaded.begin() + offset, loaded.end(), message_data().begin() + offset));

    ParsedDialog dialog = read_template(loaded.data() + offset, loaded.size() - offset);
    expect_dialog(dialog, MAIN_DIALOG);
    EXPECT_EQ(dialog.size, main_template_size);
    // The check box's "ü" is UTF-16 U+00FC in the loaded table, not a converted byte.
    ASSERT_GE(dialog.controls.size(), 5u);
    EXPECT_EQ(dialog.controls[4].text.find(u'\u00FC'), 15u);
}

TEST(PasswordTemplate, InflatesToTheDialogAndFitsItsBlock)
{
    Bytes template_bytes = inflate_raw(password_template_blob, password_template_blob_size);
    ASSERT_EQ(template_bytes.size(), password_template_size);
    EXPECT_EQ(password_template_size, PASSWORD_TEMPLATE_SIZE);
    EXPECT_LE(password_template_size, PASSWORD_TEMPLATE_BLOCK_SIZE);

    ParsedDialog dialog = read_template(template_bytes.data(), template_bytes.size());
    expect_dialog(dialog, PASSWORD_DIALOG);
    EXPECT_EQ(dialog.size, password_template_size);
}

// --- usage text -----------------------------------------------------------------------------

// The stub inflates it into USAGE_TEXT_CAPACITY bytes whose last one stays zero.
TEST(UsageText, InflatesToOneTerminatedTextThatFitsItsBuffer)
{
    Bytes data = inflate_raw(usage_blob, usage_blob_size);
    ASSERT_FALSE(data.empty());
    EXPECT_LE(data.size(), size_t(USAGE_TEXT_CAPACITY - 1));
    EXPECT_EQ(data.back(), 0);
    std::string text(data.begin(), data.end() - 1);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.find('%'), std::string::npos) << "shown as it is, never a format";
    std::string utf8 = convert(text, "CP850", "UTF-8");
    for (const char* word : {"-silent", "-dir=", "-overwrite", "-password=", "-log=", "-args=", "-info",
                             "-?", "-help", u8"überschreiben"})
        EXPECT_NE(utf8.find(word), std::string::npos) << word;
}

// --- fixed texts ----------------------------------------------------------------------------

TEST(FixedTexts, FixedWordingIsStoredInWindows1252)
{
    struct Case { const char* stored; const char* utf8; };
    const Case cases[] = {
        {text_caption, u8"Tarvel Self-Extractor"},
        {text_header_error, u8"Tarvel Self-Extractor-Dateikopf ungültig. Mögliche Ursache: "
                            u8"Fehlerhafter Datenträger oder Dateiübertragungsfehler."},
        {text_no_memory, u8"Nicht genügend Speicher"},
        {text_no_memory_resources, u8"no memory for resources"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::string(c.stored), windows_1252(c.utf8));
    size_t u_umlaut = std::strlen("Tarvel Self-Extractor-Dateikopf ung");
    EXPECT_EQ(static_cast<uint8_t>(text_header_error[u_umlaut]), 0xFC);
}

// Info formats message 40 with the archive's description (up to 515 characters) and the product
// text into 512 bytes: a full-length description must overflow, a short one fit with room.
TEST(FixedTexts, ProductInfoLeavesRoomForAShortDescriptionOnly)
{
    std::string product = text_product_info;
    EXPECT_EQ(product.find('%'), std::string::npos) << "used as a format string";
    EXPECT_LT(product.size(), 200u);
    EXPECT_NE(product.find("Version 1.0"), std::string::npos);

    std::string layout = loaded_text(MSG_INFO_LAYOUT);
    char buffer[512];
    int short_length =
        std::snprintf(buffer, sizeof buffer, layout.c_str(), "Beispielprogramm 2.1", text_product_info);
    EXPECT_LT(short_length, 300);
    std::string longest(515, 'x');
    int long_length =
        std::snprintf(buffer, sizeof buffer, layout.c_str(), longest.c_str(), text_product_info);
    EXPECT_GE(long_length, static_cast<int>(sizeof buffer));
}

// The builder refuses an Info text longer than ABOUT_SHOWN_MAX, worked out from the product
// text's length: the longest text it lets through must fit the stub's Info box, one byte
// more must not. Fails when the product text or the layout changes without the limit.
TEST(FixedTexts, InfoBoxHoldsExactlyTheLongestTextTheBuilderAccepts)
{
    EXPECT_EQ(std::strlen(text_product_info), static_cast<size_t>(PRODUCT_TEXT_LENGTH));
    std::string layout = loaded_text(MSG_INFO_LAYOUT);
    char buffer[INFO_TEXT_CAPACITY];
    std::string longest(ABOUT_SHOWN_MAX, 'x');
    int fits = std::snprintf(buffer, sizeof buffer, layout.c_str(), longest.c_str(), text_product_info);
    EXPECT_EQ(fits, INFO_TEXT_CAPACITY - 1);
    longest += 'x';
    int over = std::snprintf(buffer, sizeof buffer, layout.c_str(), longest.c_str(), text_product_info);
    EXPECT_GE(over, static_cast<int>(INFO_TEXT_CAPACITY));
}

TEST(FixedTexts, ReportNoticeAsksToSaveTheReportAndFitsItsBuffer)
{
    constexpr size_t REPORT_TEXT_CAPACITY = 401;
    std::string notice = text_report_notice;
    EXPECT_EQ(notice.rfind("\nPlease save the file TVSFX32.RPT", 0), 0u);
    EXPECT_EQ(notice.find('%'), std::string::npos) << "used as a format string";
    EXPECT_LT(notice.size(), REPORT_TEXT_CAPACITY);
    EXPECT_NE(notice.find(".example"), std::string::npos) << "contact lines under the example domain";
}

// --- what the image must not hold -----------------------------------------------------------

// The stub finds ZIP records and its own record's marker by scanning; a copy of one inside its
// data would be found first.
TEST(GeneratedData, HoldsNoRecordSignatureOrStubMarker)
{
    const std::string forbidden[] = {
        std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4), std::string("PK\x05\x06", 4),
        std::string("PK\x05\x05", 4), std::string("PK00", 4), std::string("PK\x07\x08", 4),
        std::string("TVK\x01sfx\x02", 8),
    };
    struct Block { const char* name; const uint8_t* data; size_t size; };
    auto text = [](const char* name, const char* value) {
        return Block{name, reinterpret_cast<const uint8_t*>(value), std::strlen(value) + 1};
    };
    const Block blocks[] = {
        {"message_blob", message_blob, message_blob_size},
        {"password_template_blob", password_template_blob, password_template_blob_size},
        {"message_offsets", reinterpret_cast<const uint8_t*>(message_offsets), sizeof message_offsets},
        text("text_caption", text_caption),
        text("text_header_error", text_header_error),
        text("text_no_memory", text_no_memory),
        text("text_no_memory_resources", text_no_memory_resources),
        text("text_product_info", text_product_info),
        text("text_report_notice", text_report_notice),
    };
    for (const Block& block : blocks)
        for (const std::string& sequence : forbidden)
            EXPECT_FALSE(contains(block.data, block.size, sequence)) << block.name;
}

// --- both languages -------------------------------------------------------------------------

const TextSet& german() { return text_sets[LANGUAGE_GERMAN]; }
const TextSet& english() { return text_sets[LANGUAGE_ENGLISH]; }

struct LoadedLanguage {
    Bytes data;                      // the message table as loaded: texts in Windows-1252
    std::vector<std::string> texts;  // ids 0..53, UTF-8
    ParsedDialog main, password, license;
    std::string usage;               // UTF-8
};

std::string utf8_of(const std::u16string& text)
{
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    return convert(bytes, "UTF-16LE", "UTF-8");
}

ParsedDialog read_blob_template(const uint8_t* blob, uint32_t size, uint32_t expected_size)
{
    Bytes bytes = inflate_raw(blob, size);
    EXPECT_EQ(bytes.size(), expected_size);
    EXPECT_LE(bytes.size(), PASSWORD_TEMPLATE_BLOCK_SIZE) << "decoded into a 600-byte block";
    ParsedDialog dialog = read_template(bytes.data(), bytes.size());
    EXPECT_TRUE(dialog.ok);
    EXPECT_EQ(dialog.size, bytes.size());
    return dialog;
}

// Decodes one language's set as the stub does, checking every limit on the way.
LoadedLanguage load_language(const TextSet& set)
{
    LoadedLanguage l;
    l.data = inflate_raw(set.message_blob, set.message_blob_size);
    EXPECT_EQ(l.data.size(), set.message_data_size);
    uint32_t text_size = set.message_offsets[MSG_MAIN_DIALOG];
    EXPECT_EQ(text_size + set.main_template_size, set.message_data_size);
    EXPECT_LE(text_size + MAIN_TEMPLATE_COPY_SIZE, MESSAGE_BLOCK_GUARD_OFFSET);
    EXPECT_EQ(l.data[text_size - 1], 0) << "message 53 ends where the template begins";
    for (int id = 0; id < MESSAGE_TEXT_COUNT; ++id) {
        uint32_t start = set.message_offsets[id], next = set.message_offsets[id + 1];
        EXPECT_LT(start, next) << "message " << id;
        std::string oem(reinterpret_cast<const char*>(l.data.data()) + start);
        EXPECT_EQ(oem.size(), next - start - 1) << "message " << id;
        l.texts.push_back(convert(oem, "CP850", "UTF-8"));
    }
    l.main = read_template(l.data.data() + text_size, l.data.size() - text_size);
    EXPECT_TRUE(l.main.ok);
    EXPECT_EQ(l.main.size, set.main_template_size);
    l.password = read_blob_template(set.password_template_blob, set.password_template_blob_size,
                                    set.password_template_size);
    l.license = read_blob_template(set.license_template_blob, set.license_template_blob_size,
                                   set.license_template_size);
    Bytes usage = inflate_raw(set.usage_blob, set.usage_blob_size);
    EXPECT_LE(usage.size(), size_t(USAGE_TEXT_CAPACITY - 1));
    EXPECT_EQ(usage.back(), 0);
    l.usage = convert(std::string(usage.begin(), usage.end() - 1), "CP850", "UTF-8");
    EXPECT_EQ(l.usage.find('%'), std::string::npos) << "shown as it is, never a format";
    return l;
}

const LoadedLanguage& loaded(Language language)
{
    static const LoadedLanguage sets[LANGUAGE_COUNT] = {load_language(german()), load_language(english())};
    return sets[language];
}

// The printf conversions of a text in order ("%d", "%s"); "%%" is none.
std::vector<std::string> placeholders(const std::string& text)
{
    std::vector<std::string> found;
    for (size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        size_t end = text.find_first_of("diouxXcsp%", at + 1);
        if (end == std::string::npos)
            break;
        if (text[end] != '%')
            found.push_back(text.substr(at, end - at + 1));
        at = end;
    }
    return found;
}

// The mnemonic letters of a text: the characters behind single "&" (a "&&" is a plain "&").
std::vector<char32_t> mnemonics(const std::string& utf8)
{
    std::u32string text;
    std::string wide = convert(utf8, "UTF-8", "UTF-32LE");
    for (size_t i = 0; i + 4 <= wide.size(); i += 4) {
        char32_t c;
        std::memcpy(&c, wide.data() + i, 4);
        text += c;
    }
    std::vector<char32_t> found;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != U'&')
            continue;
        if (text[i + 1] != U'&') {
            char32_t c = text[i + 1];
            found.push_back(c < 0x80 ? char32_t(std::tolower(int(c))) : c);
        }
        ++i;
    }
    return found;
}

// Words and letters no English text holds; one of them in the English set is a text left
// untranslated. Matched as whole words, ignoring case.
const char* const GERMAN_WORDS[] = {
    "der", "die", "das", "und", "oder", "nicht", "sie", "bitte", "ist", "wird", "werden", "ein",
    "eine", "mit", "von", "zum", "beim", "datei", "dateien", "ordner", "fehler", "kennwort",
    "laufwerk", "extrahieren", "extrahiert", "extrahiere", "archiv", "abbrechen", "abgebrochen",
    "hilfe", "durchsuchen", "annehmen", "ablehnen", "lizenz", "meldung", "ende", "exitcode",
    "befehl", "befehls", "ungültig", "mögliche", "ursache", "schalter", "anzeigen", "starten",
};

std::vector<std::string> german_words_in(const std::string& utf8)
{
    std::vector<std::string> found;
    for (const char* umlaut : {u8"ä", u8"ö", u8"ü", u8"Ä", u8"Ö", u8"Ü", u8"ß"})
        if (utf8.find(umlaut) != std::string::npos)
            found.push_back(umlaut);
    std::string lower;
    for (char c : utf8)
        lower += char(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : GERMAN_WORDS) {
        std::string w = word;
        for (size_t at = lower.find(w); at != std::string::npos; at = lower.find(w, at + 1)) {
            auto letter = [&](size_t i) { return i < lower.size() && (std::isalpha(static_cast<unsigned char>(lower[i])) || (lower[i] & 0x80)); };
            if ((at == 0 || !letter(at - 1)) && !letter(at + w.size()))
                found.push_back(word);
        }
    }
    return found;
}

TEST(WordList, FindsGermanAndPassesEnglish)
{
    EXPECT_FALSE(german_words_in(u8"Bitte legen Sie Datenträger %d ein.").empty());
    EXPECT_FALSE(german_words_in("Das Archiv ist kaputt").empty());
    EXPECT_FALSE(german_words_in(u8"Schließen").empty());
    EXPECT_TRUE(german_words_in("Please insert disk %d in drive %s. Diesel ending, die-hard? No: dies.").size() == 1)
        << "only the whole word \"die\" counts";
    EXPECT_TRUE(german_words_in("The archive is damaged; extraction canceled.").empty());
}

// Every message id in both languages: present, its placeholders in the same order, its
// mnemonic where the German has one, no longer than the German (every buffer and limit is
// worked out for the German texts), and no German left in the English one.
TEST(Languages, EveryMessageInBothLanguages)
{
    const LoadedLanguage& de = loaded(LANGUAGE_GERMAN);
    const LoadedLanguage& en = loaded(LANGUAGE_ENGLISH);
    ASSERT_EQ(de.texts.size(), size_t(MESSAGE_TEXT_COUNT));
    ASSERT_EQ(en.texts.size(), size_t(MESSAGE_TEXT_COUNT));
    for (int id = 0; id < MESSAGE_TEXT_COUNT; ++id) {
        SCOPED_TRACE("message " + std::to_string(id) + ": " + en.texts[id]);
        EXPECT_EQ(de.texts[id], MESSAGES[id].utf8);
        EXPECT_EQ(en.texts[id].empty(), de.texts[id].empty());
        EXPECT_EQ(placeholders(en.texts[id]), placeholders(de.texts[id]));
        EXPECT_EQ(mnemonics(en.texts[id]).size(), mnemonics(de.texts[id]).size());
        std::string german_oem = convert(de.texts[id], "UTF-8", "CP850");
        std::string english_oem = convert(en.texts[id], "UTF-8", "CP850");
        EXPECT_LE(english_oem.size(), german_oem.size());
        EXPECT_EQ(german_words_in(en.texts[id]), std::vector<std::string>{});
    }
    // Command-line words and variable names are not translated: the stub matches them.
    for (int id : {MSG_NOAUTO, MSG_AUTO, MSG_TEMP_SUFFIX, MSG_TEMP_ASSIGNMENT, MSG_TMP_ASSIGNMENT, MSG_TEMP_NAME,
                   MSG_INFO_LAYOUT})
        EXPECT_EQ(en.texts[id], de.texts[id]) << "message " << id;
}

// The same dialog in both languages: ids, classes, styles and places alike; texts where the
// German has one, with as many mnemonics; the mnemonics of each dialog unique (the main
// dialog's check box 111 takes its mnemonic from message 25).
TEST(Languages, DialogsMatchInLayoutAndKeepMnemonicsUnique)
{
    struct Pair { const char* name; const ParsedDialog& de; const ParsedDialog& en; };
    const LoadedLanguage& de = loaded(LANGUAGE_GERMAN);
    const LoadedLanguage& en = loaded(LANGUAGE_ENGLISH);
    const Pair pairs[] = {{"main", de.main, en.main}, {"password", de.password, en.password},
                          {"licence", de.license, en.license}};
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(std::make_tuple(p.en.style, p.en.x, p.en.y, p.en.cx, p.en.cy, p.en.font, p.en.point_size),
                  std::make_tuple(p.de.style, p.de.x, p.de.y, p.de.cx, p.de.cy, p.de.font, p.de.point_size));
        EXPECT_EQ(p.en.title.empty(), p.de.title.empty());
        EXPECT_EQ(german_words_in(utf8_of(p.en.title)), std::vector<std::string>{});
        ASSERT_EQ(p.en.controls.size(), p.de.controls.size());
        std::vector<std::vector<char32_t>> keys(LANGUAGE_COUNT);
        for (size_t i = 0; i < p.de.controls.size(); ++i) {
            const ParsedControl& c_de = p.de.controls[i];
            const ParsedControl& c_en = p.en.controls[i];
            SCOPED_TRACE("control " + std::to_string(c_de.id) + ": " + utf8_of(c_en.text));
            EXPECT_EQ(std::make_tuple(c_en.id, c_en.cls, c_en.style, c_en.x, c_en.y, c_en.cx, c_en.cy),
                      std::make_tuple(c_de.id, c_de.cls, c_de.style, c_de.x, c_de.y, c_de.cx, c_de.cy));
            EXPECT_EQ(c_en.text.empty(), c_de.text.empty());
            EXPECT_EQ(mnemonics(utf8_of(c_en.text)).size(), mnemonics(utf8_of(c_de.text)).size());
            EXPECT_EQ(german_words_in(utf8_of(c_en.text)), std::vector<std::string>{});
            for (char32_t k : mnemonics(utf8_of(c_de.text)))
                keys[LANGUAGE_GERMAN].push_back(k);
            for (char32_t k : mnemonics(utf8_of(c_en.text)))
                keys[LANGUAGE_ENGLISH].push_back(k);
        }
        if (std::string(p.name) == "main") {
            for (char32_t k : mnemonics(de.texts[MSG_RUN_AFTER]))
                keys[LANGUAGE_GERMAN].push_back(k);
            for (char32_t k : mnemonics(en.texts[MSG_RUN_AFTER]))
                keys[LANGUAGE_ENGLISH].push_back(k);
        }
        for (auto& set : keys) {
            std::sort(set.begin(), set.end());
            EXPECT_EQ(std::adjacent_find(set.begin(), set.end()), set.end()) << "a mnemonic used twice";
        }
    }
}

// The licence page: a read-only scrolling text and two buttons of which neither is the
// default and Accept is not IDOK, so Enter alone never accepts; Decline is IDCANCEL (Esc).
TEST(LicenseTemplate, AcceptIsNeverTheDefaultAndTheTextOnlyScrolls)
{
    constexpr uint32_t BS_TYPE_MASK = 0x0F, BS_DEFPUSHBUTTON = 1;
    constexpr uint32_t ES_MULTILINE = 0x4, ES_READONLY = 0x800, WS_VSCROLL = 0x00200000;
    struct Case { Language language; const char16_t* accept; const char16_t* decline; };
    for (const Case& c : {Case{LANGUAGE_GERMAN, u"Annehmen", u"Ablehnen"}, Case{LANGUAGE_ENGLISH, u"I accept", u"Decline"}}) {
        const ParsedDialog& dialog = loaded(c.language).license;
        ASSERT_EQ(dialog.controls.size(), 4u);
        const ParsedControl& text = dialog.controls[1];
        EXPECT_EQ(text.id, LICENSE_TEXT_ID);
        EXPECT_EQ(text.cls, "EDIT");
        EXPECT_EQ(text.style & (ES_MULTILINE | ES_READONLY | WS_VSCROLL), ES_MULTILINE | ES_READONLY | WS_VSCROLL);
        const ParsedControl& accept = dialog.controls[2];
        const ParsedControl& decline = dialog.controls[3];
        EXPECT_EQ(accept.id, LICENSE_ACCEPT_ID);
        EXPECT_NE(accept.id, 1) << "IDOK is what Enter sends";
        EXPECT_EQ(accept.text, c.accept);
        EXPECT_EQ(decline.id, 2);
        EXPECT_EQ(decline.text, c.decline);
        for (const ParsedControl& control : dialog.controls) {
            if (control.cls == "BUTTON") {
                EXPECT_NE(control.style & BS_TYPE_MASK, BS_DEFPUSHBUTTON) << "control " << control.id;
            }
        }
    }
}

TEST(Languages, UsageAndFixedTextsInBothLanguages)
{
    const LoadedLanguage& de = loaded(LANGUAGE_GERMAN);
    const LoadedLanguage& en = loaded(LANGUAGE_ENGLISH);
    EXPECT_EQ(german_words_in(en.usage), std::vector<std::string>{});
    for (const char* word : {"-silent", "-dir=", "-overwrite", "-password=", "-log=", "-args=", "-info", "-?", "-help",
                             "-wait", "-extract-only", "-test"}) {
        EXPECT_NE(de.usage.find(word), std::string::npos) << word;
        EXPECT_NE(en.usage.find(word), std::string::npos) << word;
    }
    // The same switches in the same order: a line that starts with one names it up to its
    // "=", ":" or blank (a line added to one language and not to the other shows here).
    auto switches = [](const std::string& usage) {
        std::vector<std::string> found;
        size_t at = 0;
        while (at < usage.size()) {
            size_t end = usage.find('\n', at);
            std::string line = usage.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (!line.empty() && line[0] == '-')
                found.push_back(line.substr(0, line.find_first_of("=: ")));
            at = end == std::string::npos ? usage.size() : end + 1;
        }
        return found;
    };
    EXPECT_EQ(switches(en.usage), switches(de.usage));
    EXPECT_GE(switches(de.usage).size(), 8u);
    // German keeps the words of old: scripts read the log.
    EXPECT_STREQ(german().log_message, "Meldung: ");
    EXPECT_STREQ(german().log_file, "Datei: ");
    EXPECT_STREQ(german().log_end, "Ende: Exitcode ");
    EXPECT_EQ(german().header_error, std::string(text_header_error));
    EXPECT_EQ(german().product_info, std::string(text_product_info));
    struct Fixed { const char* name; const char* de; const char* en; };
    const Fixed fixed[] = {
        {"header_error", german().header_error, english().header_error},
        {"product_info", german().product_info, english().product_info},
        {"log_message", german().log_message, english().log_message},
        {"log_file", german().log_file, english().log_file},
        {"log_end", german().log_end, english().log_end},
        {"log_license", german().log_license, english().log_license},
        {"log_at_restart", german().log_at_restart, english().log_at_restart},
        {"log_not_removed", german().log_not_removed, english().log_not_removed},
        {"log_not_empty", german().log_not_empty, english().log_not_empty},
        {"log_link", german().log_link, english().log_link},
        {"log_replaced", german().log_replaced, english().log_replaced},
        {"log_gone", german().log_gone, english().log_gone},
        {"log_folder", german().log_folder, english().log_folder},
    };
    for (const Fixed& f : fixed) {
        SCOPED_TRACE(f.name);
        std::string english_text = convert(f.en, "CP1252", "UTF-8");
        EXPECT_FALSE(english_text.empty());
        EXPECT_LE(std::strlen(f.en), std::strlen(f.de)) << "fits wherever the German does";
        EXPECT_EQ(english_text.find('%'), std::string::npos) << "used as a format string or shown as it is";
        EXPECT_EQ(german_words_in(english_text), std::vector<std::string>{});
    }
    EXPECT_NE(std::string(english().product_info).find("Version 1.0"), std::string::npos);
}

// The German set is the data of old under their old names: a package built in German shows
// exactly what it showed before there were other languages.
TEST(Languages, GermanSetIsTheDataOfOld)
{
    EXPECT_EQ(german().message_blob, message_blob);
    EXPECT_EQ(german().message_blob_size, message_blob_size);
    EXPECT_EQ(german().message_offsets, message_offsets);
    EXPECT_EQ(german().password_template_blob, password_template_blob);
    EXPECT_EQ(german().usage_blob, usage_blob);
    EXPECT_EQ(german().main_template_size, MAIN_TEMPLATE_SIZE);
    EXPECT_EQ(german().password_template_size, PASSWORD_TEMPLATE_SIZE);
}

TEST(GeneratedData, EnglishDataHoldNoRecordSignatureOrStubMarker)
{
    const std::string forbidden[] = {
        std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4), std::string("PK\x05\x06", 4),
        std::string("PK\x05\x05", 4), std::string("PK00", 4), std::string("PK\x07\x08", 4),
        std::string("TVK\x01sfx\x02", 8),
    };
    for (const TextSet& set : text_sets) {
        struct Block { const uint8_t* data; size_t size; };
        const Block blocks[] = {
            {set.message_blob, set.message_blob_size},
            {set.password_template_blob, set.password_template_blob_size},
            {set.usage_blob, set.usage_blob_size},
            {set.license_template_blob, set.license_template_blob_size},
            {reinterpret_cast<const uint8_t*>(set.message_offsets), MESSAGE_OFFSET_COUNT * 4},
        };
        for (const Block& block : blocks)
            for (const std::string& sequence : forbidden)
                EXPECT_FALSE(contains(block.data, block.size, sequence));
    }
}

}  // namespace
