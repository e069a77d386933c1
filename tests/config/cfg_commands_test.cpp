#include "config/cfg_commands.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(Commands, UpdateCommandCarriesKindFileAndInfo)
{
    struct Case
    {
        std::int32_t kind;
        const char* expected;
    };
    const Case cases[] = {{UPDATE_SYSTEM, "appcfg cmd c=3 image.bin X"},
                          {UPDATE_APPLICATION, "appcfg cmd c=6 image.bin X"},
                          {UPDATE_SOFTWARE, "appcfg cmd c=7 image.bin X"}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.kind);
        EXPECT_EQ(BuildUpdateCommand(c.kind, "image.bin", "X"), c.expected);
    }
    EXPECT_EQ(BuildUpdateCommand(3, "image.bin", "X"), std::nullopt);
}

TEST(Commands, UpdateCommandBeforeTheFirstInfoHasAnEmptyInfoField)
{
    // The info field is empty until the box's first info message arrived;
    // the command then ends with the blank after the file name.
    EXPECT_EQ(BuildUpdateCommand(UPDATE_SYSTEM, "a.bin", ""), "appcfg cmd c=3 a.bin ");
}

TEST(Commands, UpdateCommandIsRefusedWhenItWouldNotFitTheBoxBuffer)
{
    // 16 fixed characters ("appcfg cmd c=3 " and the blank between the
    // arguments) leave 239 for the file name and the info field together.
    EXPECT_TRUE(BuildUpdateCommand(UPDATE_SYSTEM, std::string(200, 'f'), std::string(39, 'i')));
    EXPECT_FALSE(BuildUpdateCommand(UPDATE_SYSTEM, std::string(200, 'f'), std::string(40, 'i')));
    EXPECT_FALSE(BuildUpdateCommand(UPDATE_SOFTWARE, std::string(240, 'f'), ""));
}

TEST(Commands, PasswordCommandQuotesParameterOne)
{
    EXPECT_EQ(BuildPasswordCommand("geheim"), "appcfg config c=2 p=root \"1=geheim\"");
    EXPECT_EQ(BuildPasswordCommand(""), "appcfg config c=2 p=root \"1=\"");
    // 29 fixed characters leave 226 for the password.
    EXPECT_TRUE(BuildPasswordCommand(std::string(226, 'p')));
    EXPECT_FALSE(BuildPasswordCommand(std::string(227, 'p')));
}

// Every status reads exactly as the operator has always seen it.
TEST(Commands, EachStatusHasItsText)
{
    struct Case
    {
        AppStatus status;
        const char* text;
    };
    const Case cases[] = {
        {AppStatus::UpdateDone, "Update erfolgreich durchgeführt"},
        {AppStatus::UpdateFailed, "Update fehlerhaft\n( x)"},
        {AppStatus::UpdateBusy, "Es läuft bereits ein Update.\nBitte warten Sie, bis die Box geantwortet hat."},
        {AppStatus::UpdateNameTooLong, "Der Dateiname ist zu lang für den Update-Befehl."},
        {AppStatus::UpdatePathInvalid, "Der Ordner der Update-Datei kann nicht verwendet werden (Pfad zu lang)."},
        {AppStatus::PasswordSet, "Kennwort erfolgreich gesetzt"},
        {AppStatus::PasswordFailed, "Kennwort konnte nicht gesetzt werden"},
        {AppStatus::PasswordTooLong, "Das Kennwort ist zu lang (höchstens 226 Zeichen)."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        // Only an update's failure shows the box's text.
        EXPECT_EQ(UserText(c.status, " x"), c.text);
    }
}

TEST(Commands, UpdateVerdictShowsTheBoxTextWithItsLeadingBlank)
{
    EXPECT_EQ(UserText(AppStatus::UpdateDone, "ignored"), "Update erfolgreich durchgeführt");
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, " file not found"),
              "Update fehlerhaft\n( file not found)");
    // No reply at all leaves the field slot empty.
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, ""), "Update fehlerhaft\n()");
}

TEST(Commands, UpdateVerdictShowsABoxTextInEitherCharacterSetReadably)
{
    struct Case
    {
        const char* name;
        std::string box;
        std::string shown;
    };
    // A box may write its German texts in Windows-1252 (one byte per
    // umlaut) or in UTF-8; either must reach the operator as the same words,
    // never as replacement characters.
    const Case cases[] = {
        {"ascii", " no space left", " no space left"},
        {"utf-8 kept", " Pr\xC3\xBC" "fsumme falsch", " Pr\xC3\xBC" "fsumme falsch"},
        {"1252 umlaut", " Pr\xFC" "fsumme falsch", " Pr\xC3\xBC" "fsumme falsch"},
        {"1252 sharp s and euro", " Gr\xF6\xDF" "e 5 \x80", " Gr\xC3\xB6\xC3\x9F" "e 5 \xE2\x82\xAC"},
        {"1252 quotes", "\x84" "x\x93", "\xE2\x80\x9E" "x\xE2\x80\x9C"},
        {"unassigned 1252 byte", "\x81", "\xC2\x81"},
        // A lead byte without its continuation is not UTF-8.
        {"cut utf-8", "a\xC3", "a\xC3\x83"},
        {"overlong utf-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"encoded surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BoxTextToUtf8(c.box), c.shown);
        EXPECT_EQ(UserText(AppStatus::UpdateFailed, c.box), "Update fehlerhaft\n(" + c.shown + ")");
    }
    // Converted first, then cut: 235 bytes of room hold 117 two-byte umlauts.
    const std::string text = UserText(AppStatus::UpdateFailed, std::string(200, '\xFC'));
    EXPECT_EQ(text, "Update fehlerhaft\n(" + [] {
        std::string u;
        for (int i = 0; i < 117; ++i)
            u += "\xC3\xBC";
        return u;
    }() + ")");
}

TEST(Commands, UpdateVerdictCutsALongBoxTextToTheMessageBuffer)
{
    const std::string text = UserText(AppStatus::UpdateFailed, std::string(1000, 'e'));
    EXPECT_EQ(text.size(), CMD_BUFFER_SIZE - 1);
    EXPECT_EQ(text.substr(0, 19), "Update fehlerhaft\n(");
    EXPECT_EQ(text.back(), ')');
    // 235 is the room left by the 20 fixed bytes.
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, std::string(235, 'e')).size(), 255u);
}

TEST(Commands, CuttingNeverSplitsAMultiByteCharacter)
{
    // "ü" is two bytes; a cut at one byte must drop it whole.
    EXPECT_EQ(CutUtf8("\xC3\xBC", 1), "");
    EXPECT_EQ(CutUtf8("a\xC3\xBC", 2), "a");
    EXPECT_EQ(CutUtf8("a\xC3\xBC", 3), "a\xC3\xBC");
    EXPECT_EQ(CutUtf8("abc", 0), "");
    EXPECT_EQ(DeviceInfoField(std::string(300, 'i')).size(), 255u);
}

TEST(Commands, UpdatePathSplitsAtTheLastSeparator)
{
    struct Case
    {
        const char* name;
        std::string path;
        bool ok;
        const char* folder;
        const char* file;
    };
    const Case cases[] = {
        {"plain", "/srv/fw/image.bin", true, "/srv/fw/", "image.bin"},
        // The name occurs earlier in the path; only the last one is the file.
        {"name repeated in path", "/image.bin/image.bin", true, "/image.bin/", "image.bin"},
        {"root folder", "/image.bin", true, "/", "image.bin"},
        {"no file", "/srv/fw/", false, "", ""},
        {"empty", "", false, "", ""},
        {"relative without folder", "image.bin", false, "", ""},
        // The TFTP home path holds 259 characters and its NUL.
        {"folder fills the home path", "/" + std::string(257, 'd') + "/f", true, nullptr, "f"},
        {"folder too long", "/" + std::string(258, 'd') + "/f", false, "", ""},
        {"name too long", "/d/" + std::string(256, 'n'), false, "", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto split = SplitUpdatePath(c.path);
        ASSERT_EQ(split.has_value(), c.ok);
        if (!c.ok)
            continue;
        if (c.folder != nullptr)
        {
            EXPECT_EQ(split->folder, c.folder);
        }
        EXPECT_EQ(split->folder.back(), '/');
        EXPECT_EQ(split->name, c.file);
        EXPECT_EQ(split->folder + split->name, c.path);
    }
}

}  // namespace
