// CAboutDlg: the about box (template 100): icon, version and copyright.
#pragma once

#include "ui/style_dialog.h"

class CAboutDlg final : public CStyleDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};
