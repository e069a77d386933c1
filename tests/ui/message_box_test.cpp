#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "tests/common/wait.h"
#include "tests/ui/qt_test_support.h"
#include "ui/resource.h"

namespace {

// Checks the message box that is up, then closes it with OK. Gives up at
// the event deadline so that a box that never came cannot stall the test.
void CloseMessageBoxWhenUp(QMessageBox::Icon expectedIcon, const QString& expectedCaption, bool& bSeen)
{
    auto* pTimer = new QTimer;
    auto started = std::chrono::steady_clock::now();
    QObject::connect(pTimer, &QTimer::timeout, [=, &bSeen] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            bSeen = pBox->icon() == expectedIcon && pBox->windowTitle() == expectedCaption &&
                    pBox->standardButtons() == QMessageBox::Ok && pBox->textFormat() == Qt::PlainText;
            pBox->button(QMessageBox::Ok)->click();
            pTimer->deleteLater();
        } else if (std::chrono::steady_clock::now() - started > WAIT) {
            pTimer->deleteLater();
        }
    });
    pTimer->start(10);
}

}  // namespace

TEST(MessageBox, ApplicationBoxHasTheApplicationNameAndTheExclamationIcon)
{
    bool bSeen = false;
    CloseMessageBoxWhenUp(QMessageBox::Warning, QApplication::applicationName(), bSeen);
    EXPECT_EQ(AppMessageBox(nullptr, QStringLiteral("Kennwort erfolgreich gesetzt")), IDOK);
    EXPECT_TRUE(bSeen);
}

TEST(MessageBox, PlainBoxSaysInformationWithoutIcon)
{
    bool bSeen = false;
    CloseMessageBoxWhenUp(QMessageBox::NoIcon, QStringLiteral("Information"), bSeen);
    EXPECT_EQ(PlainMessageBox(QStringLiteral("Update erfolgreich durchgef\u00fchrt")), IDOK);
    EXPECT_TRUE(bSeen);
}

TEST(MessageBox, AsyncPlainBoxReportsItsEndWithoutBlocking)
{
    bool bClosed = false;
    PlainMessageBoxAsync(QStringLiteral("Update fehlerhaft\n( timeout)"), [&] { bClosed = true; });
    // The call came back with the box still open.
    EXPECT_FALSE(bClosed);
    QMessageBox* pBox = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* pWidget : QApplication::topLevelWidgets())
                if (auto* p = qobject_cast<QMessageBox*>(pWidget); p && p->isVisible())
                    pBox = p;
            return pBox != nullptr;
        },
        2000));
    EXPECT_EQ(pBox->windowTitle(), QStringLiteral("Information"));
    EXPECT_EQ(pBox->text(), QStringLiteral("Update fehlerhaft\n( timeout)"));
    // A box's text is never read as markup.
    EXPECT_EQ(pBox->textFormat(), Qt::PlainText);
    pBox->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bClosed; }, 2000));
}

TEST(MessageBox, HookReplacesTheBoxes)
{
    MessageBoxRecorder recorder;
    AppMessageBox(nullptr, QStringLiteral("a"));
    PlainMessageBox(QStringLiteral("b"));
    bool bClosed = false;
    PlainMessageBoxAsync(QStringLiteral("c"), [&] { bClosed = true; });
    ASSERT_EQ(recorder.entries.size(), 3u);
    EXPECT_EQ(recorder.entries[0].kind, MsgBoxKind::Application);
    EXPECT_EQ(recorder.entries[0].caption, QApplication::applicationName());
    EXPECT_EQ(recorder.entries[1].caption, QStringLiteral("Information"));
    EXPECT_EQ(recorder.entries[2].text, QStringLiteral("c"));
    EXPECT_TRUE(bClosed);
}
