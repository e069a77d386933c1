// The settings store and the hand-over of URLs to the desktop (ui/profile.h).
#include "ui/profile.h"

#include <vector>

#include <QApplication>
#include <QDesktopServices>
#include <QSettings>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

class CUrlCatcher : public QObject
{
    Q_OBJECT
public slots:
    void Catch(const QUrl& url) { urls.push_back(url); }

public:
    std::vector<QUrl> urls;
};

}  // namespace

TEST(Profile, StoresTheAdapterUnderOrganisationAndSection)
{
    EXPECT_EQ(GetProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter")), QString());
    EXPECT_EQ(GetProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter"), QStringLiteral("x")),
              QStringLiteral("x"));
    ASSERT_TRUE(WriteProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter"),
                                   QStringLiteral("LAN B \u00e4")));
    EXPECT_EQ(GetProfileString(QStringLiteral("Parameters"), QStringLiteral("adapter")),
              QStringLiteral("LAN B \u00e4"));

    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Orvex-Vindle"),
                             QApplication::applicationName());
    EXPECT_EQ(settings.value(QStringLiteral("Parameters/adapter")).toString(),
              QStringLiteral("LAN B \u00e4"));
    // Never the user's own settings: main() points them at a private folder.
    EXPECT_TRUE(settings.fileName().contains(QLatin1String(qgetenv("XDG_CONFIG_HOME"))));
}

TEST(Shell, OpenUrlHandsTheUrlToTheDesktop)
{
    CUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "Catch");
    EXPECT_TRUE(OpenUrl(QStringLiteral("http://192.168.1.10/admin?p=0")));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    ASSERT_EQ(catcher.urls.size(), 1u);
    EXPECT_EQ(catcher.urls[0].toString(), QStringLiteral("http://192.168.1.10/admin?p=0"));
}

#include "profile_test.moc"
