#pragma once
// Everything the main window asks of the operator or the desktop beyond its
// own controls: running a parameter dialog, choosing an update file, a
// yes/no question, the context menu, opening a URL. The program uses the
// real ones (CAppPrompts); tests put a scripted stand-in in their place, so
// that nothing blocks on a modal loop and no browser starts. Message boxes
// have their own hook in the dialog layer (SetMessageBoxHook).
//
// User-interface thread only.

#include <QPoint>
#include <QString>

class CDialog;
class QMenu;
class QWidget;

class CAppPrompts
{
public:
    virtual ~CAppPrompts() = default;

    // Runs a parameter dialog modally; returns IDOK or IDCANCEL.
    virtual int RunDialog(CDialog& dlg);
    // The update file chooser: an existing file, no filter. Returns the full
    // path, or an empty text when the operator cancelled.
    virtual QString ChooseUpdateFile(QWidget* pOwner);
    // A question with "Ja" and "Nein"; true for "Ja".
    virtual bool Confirm(QWidget* pOwner, const QString& text);
    // Shows the menu at a screen position until the operator chooses or
    // dismisses it. Returns the chosen command id, 0 for none; the caller
    // carries the command out.
    virtual int PopupMenu(QMenu& menu, const QPoint& globalPos);
    // Opens a URL in the default browser; false when nothing took it.
    virtual bool OpenUrl(const QString& url);
};
