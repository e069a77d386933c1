// The per-user setting store and the shell's "open" for URLs.
// User-interface thread only.
#pragma once

#include <QString>

// The key all of Vindle's settings live under; the application name (the
// executable's base name unless set otherwise) and the section follow it.
inline constexpr char PROFILE_ORGANISATION[] = "Orvex-Vindle";

// The value of entry in section, or def when it was never written.
QString GetProfileString(const QString& section, const QString& entry, const QString& def = {});
// Stores and flushes the value. Returns false when it could not be written.
bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

// Opens url with the desktop's default handler (the browser for http).
// Returns false when no handler took it.
bool OpenUrl(const QString& url);
