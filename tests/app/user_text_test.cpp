#include "app/user_text.h"

#include <gtest/gtest.h>

#include <string>

#include "config/cfg_commands.h"

namespace {

// Every status reads exactly as the operator has always seen it.
TEST(UserText, EachStatusHasItsText)
{
    struct Case
    {
        AppStatus status;
        const char* text;
    };
    const Case cases[] = {
        {AppStatus::UpdateDone, "Update erfolgreich durchgeführt"},
        {AppStatus::UpdateFailed, "Update fehlerhaft\n( x)"},
        {AppStatus::UpdateBusy,
         "Es läuft bereits ein Update.\nBitte warten Sie, bis die Box geantwortet hat."},
        {AppStatus::UpdateNameTooLong, "Der Dateiname ist zu lang für den Update-Befehl."},
        {AppStatus::UpdatePathInvalid,
         "Der Ordner der Update-Datei kann nicht verwendet werden (Pfad zu lang)."},
        {AppStatus::PasswordSet, "Kennwort erfolgreich gesetzt"},
        {AppStatus::PasswordFailed, "Kennwort konnte nicht gesetzt werden"},
        {AppStatus::PasswordTooLong, "Das Kennwort ist zu lang (höchstens 226 Zeichen)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Only an update's failure shows the box's text.
        EXPECT_EQ(UserText(c.status, " x"), c.text);
    }
}

TEST(UserText, UpdateVerdictShowsTheBoxTextWithItsLeadingBlank)
{
    EXPECT_EQ(UserText(AppStatus::UpdateDone, "ignored"), "Update erfolgreich durchgeführt");
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, " file not found"), "Update fehlerhaft\n( file not found)");
    // No reply at all leaves the field slot empty.
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, ""), "Update fehlerhaft\n()");
}

TEST(UserText, UpdateVerdictShowsABoxTextInEitherCharacterSetReadably)
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
        {"utf-8 kept",
         " Pr\xC3\xBC"
         "fsumme falsch",
         " Pr\xC3\xBC"
         "fsumme falsch"},
        {"1252 umlaut",
         " Pr\xFC"
         "fsumme falsch",
         " Pr\xC3\xBC"
         "fsumme falsch"},
        {"1252 sharp s and euro",
         " Gr\xF6\xDF"
         "e 5 \x80",
         " Gr\xC3\xB6\xC3\x9F"
         "e 5 \xE2\x82\xAC"},
        {"1252 quotes",
         "\x84"
         "x\x93",
         "\xE2\x80\x9E"
         "x\xE2\x80\x9C"},
        {"unassigned 1252 byte", "\x81", "\xC2\x81"},
        // A lead byte without its continuation is not UTF-8.
        {"cut utf-8", "a\xC3", "a\xC3\x83"},
        {"overlong utf-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        {"encoded surrogate", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BoxTextToUtf8(c.box), c.shown);
        EXPECT_EQ(UserText(AppStatus::UpdateFailed, c.box), "Update fehlerhaft\n(" + c.shown + ")");
    }
    // Converted first, then cut: 235 bytes of room hold 117 two-byte umlauts.
    const std::string text = UserText(AppStatus::UpdateFailed, std::string(200, '\xFC'));
    EXPECT_EQ(
        text, "Update fehlerhaft\n(" + [] {
            std::string u;
            for (int i = 0; i < 117; ++i)
                u += "\xC3\xBC";
            return u;
        }() + ")");
}

TEST(UserText, UpdateVerdictCutsALongBoxTextToTheMessageBuffer)
{
    const std::string text = UserText(AppStatus::UpdateFailed, std::string(1000, 'e'));
    EXPECT_EQ(text.size(), CMD_BUFFER_SIZE - 1);
    EXPECT_EQ(text.substr(0, 19), "Update fehlerhaft\n(");
    EXPECT_EQ(text.back(), ')');
    // 235 is the room left by the 20 fixed bytes.
    EXPECT_EQ(UserText(AppStatus::UpdateFailed, std::string(235, 'e')).size(), 255u);
}

}  // namespace
