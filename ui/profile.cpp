#include "ui/profile.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QSettings>
#include <QUrl>

QString GetProfileString(const QString& section, const QString& entry, const QString& def)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromLatin1(PROFILE_ORGANISATION), QCoreApplication::applicationName());
    settings.beginGroup(section);
    return settings.value(entry, def).toString();
}

bool WriteProfileString(const QString& section, const QString& entry, const QString& value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromLatin1(PROFILE_ORGANISATION), QCoreApplication::applicationName());
    settings.beginGroup(section);
    settings.setValue(entry, value);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool OpenUrl(const QString& url)
{
    return QDesktopServices::openUrl(QUrl(url));
}
