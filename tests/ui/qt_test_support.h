// Helpers for driving dialogs in tests without ever hanging: modal runs with
// a watchdog, recorded message boxes, typing into the focused widget.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "ui/message_box.h"

class CDialog;

// Runs dlg.DoModal(); drive runs inside the modal loop once the dialog is
// up. If the dialog is still open after 2 s, it is ended with -1 and that is
// what RunModal returns.
int RunModal(CDialog& dlg, const std::function<void()>& drive);

// Shows dlg without waiting and makes it the active window, so that keys go
// where the focus is.
void OpenActive(CDialog& dlg);

// Sends each character of text as a key press to whatever widget has the
// focus at that moment (focus moves are part of what is tested).
void TypeIntoFocus(const QString& text);

// Records every message box instead of showing it, for its own lifetime.
struct MessageBoxRecorder
{
    struct Entry
    {
        MsgBoxKind kind;
        QString caption;
        QString text;
    };
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    std::vector<Entry> entries;
};
