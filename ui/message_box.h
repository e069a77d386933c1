// The two message boxes of Vindle. User-interface thread only; a worker
// queues its message through a CUiQueue and shows it with
// PlainMessageBoxAsync, which never makes anyone wait.
#pragma once

#include <QString>

#include <functional>

class QWidget;

enum class MsgBoxKind
{
    Application,  // application name as caption, OK, exclamation icon
    Plain,        // caption "Information", OK, no icon
};

// The standard application message box, modal to pOwner (or to the whole
// application when pOwner is nullptr). Returns IDOK once it is closed.
int AppMessageBox(QWidget* pOwner, const QString& text);
// The plain message box, modal, without owner. Returns IDOK.
int PlainMessageBox(const QString& text);
// The plain message box without blocking the caller: onClosed runs on the
// user-interface thread when the operator has closed it (the rest of the
// application stays usable meanwhile).
void PlainMessageBoxAsync(const QString& text, std::function<void()> onClosed = {});

// Tests replace the boxes: while a hook is set, no box is shown; the hook
// gets what would have been shown, and the call returns IDOK at once
// (PlainMessageBoxAsync then runs onClosed right away).
using MessageBoxHook = std::function<void(MsgBoxKind kind, const QString& caption, const QString& text)>;
void SetMessageBoxHook(MessageBoxHook hook);
