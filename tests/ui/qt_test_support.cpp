#include "tests/ui/qt_test_support.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "ui/dialog.h"

int RunModal(CDialog& dlg, const std::function<void()>& drive)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dlg, [&dlg] { dlg.EndDialog(-1); });
    watchdog.start(2000);
    QTimer::singleShot(0, &dlg, drive);
    const int nResult = dlg.DoModal();
    watchdog.stop();
    return nResult;
}

void OpenActive(CDialog& dlg)
{
    dlg.ShowModeless();
    dlg.activateWindow();
    (void)QTest::qWaitForWindowActive(&dlg, 2000);
}

void TypeIntoFocus(const QString& text)
{
    for (const QChar ch : text) {
        QWidget* pFocus = QApplication::focusWidget();
        if (!pFocus)
            return;
        QTest::keyClick(pFocus, ch.toLatin1());
    }
}

MessageBoxRecorder::MessageBoxRecorder()
{
    SetMessageBoxHook([this](MsgBoxKind kind, const QString& caption, const QString& text) {
        entries.push_back({kind, caption, text});
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    SetMessageBoxHook({});
}
