#include "ui/message_box.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "ui/resource.h"

namespace {

// Set and used on the user-interface thread only.
MessageBoxHook g_hook;

const QString PLAIN_CAPTION = QStringLiteral("Information");

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook)
{
    g_hook = std::move(hook);
}

int AppMessageBox(QWidget* pOwner, const QString& text)
{
    const QString caption = QCoreApplication::applicationName();
    if (g_hook) {
        g_hook(MsgBoxKind::Application, caption, text);
        return IDOK;
    }
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, pOwner);
    // The texts carry what boxes send: a box's "<" is never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return IDOK;
}

int PlainMessageBox(const QString& text)
{
    if (g_hook) {
        g_hook(MsgBoxKind::Plain, PLAIN_CAPTION, text);
        return IDOK;
    }
    QMessageBox box(QMessageBox::NoIcon, PLAIN_CAPTION, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return IDOK;
}

void PlainMessageBoxAsync(const QString& text, std::function<void()> onClosed)
{
    if (g_hook) {
        g_hook(MsgBoxKind::Plain, PLAIN_CAPTION, text);
        if (onClosed)
            onClosed();
        return;
    }
    auto* pBox = new QMessageBox(QMessageBox::NoIcon, PLAIN_CAPTION, text, QMessageBox::Ok);
    pBox->setTextFormat(Qt::PlainText);
    pBox->setAttribute(Qt::WA_DeleteOnClose);
    pBox->setWindowModality(Qt::NonModal);
    QObject::connect(pBox, &QMessageBox::finished, pBox, [onClosed = std::move(onClosed)](int) {
        if (onClosed)
            onClosed();
    });
    pBox->show();
}
