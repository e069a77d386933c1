#include "app/user_text.h"

#include "config/cfg_commands.h"

std::string UserText(AppStatus status, std::string_view boxText)
{
    switch (status) {
    case AppStatus::UpdateDone:
        return "Update erfolgreich durchgeführt";
    case AppStatus::UpdateFailed: {
        const std::string_view head = "Update fehlerhaft\n(";
        const std::string_view tail = ")";
        const std::size_t room = CMD_BUFFER_SIZE - 1 - head.size() - tail.size();
        std::string text(head);
        text.append(CutUtf8(BoxTextToUtf8(boxText), room)).append(tail);
        return text;
    }
    case AppStatus::UpdateBusy:
        return "Es läuft bereits ein Update.\nBitte warten Sie, bis die Box geantwortet hat.";
    case AppStatus::UpdateNameTooLong:
        return "Der Dateiname ist zu lang für den Update-Befehl.";
    case AppStatus::UpdatePathInvalid:
        return "Der Ordner der Update-Datei kann nicht verwendet werden (Pfad zu lang).";
    case AppStatus::PasswordSet:
        return "Kennwort erfolgreich gesetzt";
    case AppStatus::PasswordFailed:
        return "Kennwort konnte nicht gesetzt werden";
    case AppStatus::PasswordTooLong:
        return "Das Kennwort ist zu lang (höchstens 226 Zeichen).";
    }
    return {};
}
