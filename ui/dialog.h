// CDialog: a modal dialog built from one of the templates in
// dialog_template.cpp, with its controls reached by id. It is a QDialog, so a
// derived window can also use Qt directly (signals, timers, QPointer).
//
// User-interface thread only. Worker threads reach a dialog through a
// CUiQueue (ui/uiqueue.h), never by calling these members.
#pragma once

#include <QDialog>
#include <QFont>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>

#include "ui/dialog_template.h"
#include "ui/resource.h"

class QMenu;
class CIpAddressCtrl;

class CDialog : public QDialog
{
    Q_OBJECT

public:
    // Builds the window and every control of template nTemplateId at once;
    // an unknown id gives an empty dialog. OnInitDialog runs later, when the
    // dialog is opened.
    explicit CDialog(int nTemplateId, QWidget* pParent = nullptr);
    ~CDialog() override;

    // Runs OnInitDialog, then the dialog modally until EndDialog. Returns the
    // value given to EndDialog: IDOK (1), IDCANCEL (2) or the caller's own.
    int DoModal();
    // Runs OnInitDialog and shows the dialog without waiting for it (the
    // screenshot tool and tests drive it from there).
    void ShowModeless();
    // Ends DoModal with nResult and hides the window.
    void EndDialog(int nResult);

    // Called once per DoModal/ShowModeless with every control in place;
    // returns true (the framework keeps the focus on the first tab stop).
    virtual bool OnInitDialog();
    // Button 1, and Enter while 1 is the default button: ends with IDOK.
    virtual void OnOK();
    // Button 2, Esc and the close box: ends with IDCANCEL.
    virtual void OnCancel();
    // Every other push button and the items of a menu run by
    // TrackPopupMenu. Returns true when handled; the base handles nothing.
    virtual bool OnCommand(int nId);

    int GetTemplateId() const { return m_nTemplateId; }

    // Controls by id; nullptr when the template has no such control. Labels
    // (IDC_STATIC) are not reachable by id.
    QWidget* GetDlgItem(int nId) const;
    template <class T>
    T* DlgItem(int nId) const
    {
        return qobject_cast<T*>(GetDlgItem(nId));
    }
    CIpAddressCtrl* IpAddressCtrl(int nId) const;
    // The template id of one of this dialog's controls, IDC_STATIC otherwise.
    static int CtrlId(const QWidget* pCtrl);
    // Every control, labels included, in template order.
    const QList<QWidget*>& Controls() const { return m_controls; }

    // Text of a label, button, edit, combo box (the selected entry) or IP
    // address control (dotted); empty for an unknown id.
    QString GetDlgItemText(int nId) const;
    void SetDlgItemText(int nId, const QString& text);
    void EnableDlgItem(int nId, bool bEnable);
    void ShowDlgItem(int nId, bool bShow);
    void GotoDlgCtrl(int nId);

    // Dialog units to pixels through the dialog font's average character
    // width (x) and height (y), as the templates expect.
    QRect MapDialogRect(const QRect& dlu) const;
    QSize BaseUnits() const { return m_baseUnits; }

    // The menu with that id as a QMenu whose actions carry their command id;
    // nullptr for an unknown id.
    std::unique_ptr<QMenu> LoadMenu(int nMenuId);
    static void EnableMenuItem(QMenu& menu, int nId, bool bEnable);
    // Shows the menu at a screen position until the operator chooses or
    // dismisses it, then passes the chosen id to OnCommand. Returns the id,
    // 0 when nothing was chosen.
    int TrackPopupMenu(QMenu& menu, const QPoint& globalPos);

    // The font all templates name ("MS Shell Dlg", 8 points): the platform's
    // sans-serif font at 8 points.
    static QFont DialogFont();

protected:
    void accept() override;
    void reject() override;
    void paintEvent(QPaintEvent* pEvent) override;

    // The area the template's controls live in: the whole window for a
    // captioned dialog, inside the drawn border for a pop-up without one.
    QWidget* ClientArea() const { return m_pClient; }

private:
    void CreateControls(const DlgTemplate& tmpl);
    QWidget* CreateControl(const DlgItemTemplate& item);

    void Dispatch(int nId);

    int m_nTemplateId;
    std::uint32_t m_dwStyle = DS_NONE;
    int m_nFrame = 0;  // drawn border width in pixels
    QSize m_baseUnits;
    QWidget* m_pClient = nullptr;
    QList<QWidget*> m_controls;
    std::map<int, QWidget*> m_byId;
};
