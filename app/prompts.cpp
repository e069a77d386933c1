#include "app/prompts.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "ui/dialog.h"
#include "ui/profile.h"

int CAppPrompts::RunDialog(CDialog& dlg)
{
    return dlg.DoModal();
}

QString CAppPrompts::ChooseUpdateFile(QWidget* pOwner)
{
    return QFileDialog::getOpenFileName(pOwner, QString(), QString(), QString(), nullptr,
                                        QFileDialog::ReadOnly);
}

bool CAppPrompts::Confirm(QWidget* pOwner, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), text, QMessageBox::NoButton,
                    pOwner);
    box.setTextFormat(Qt::PlainText);
    QPushButton* pYes = box.addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    QPushButton* pNo = box.addButton(QStringLiteral("Nein"), QMessageBox::NoRole);
    box.setDefaultButton(pNo);
    box.setEscapeButton(pNo);
    box.exec();
    return box.clickedButton() == pYes;
}

int CAppPrompts::PopupMenu(QMenu& menu, const QPoint& globalPos)
{
    QAction* pChosen = menu.exec(globalPos);
    return pChosen != nullptr ? pChosen->data().toInt() : 0;
}

bool CAppPrompts::OpenUrl(const QString& url)
{
    return ::OpenUrl(url);
}
