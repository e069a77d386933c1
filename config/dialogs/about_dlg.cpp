#include "config/dialogs/about_dlg.h"

#include "ui/resource.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : CStyleDialog(IDD_ABOUTBOX, pParent)
{
}
