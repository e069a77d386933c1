#include "config/dialogs/addma_dlg.h"

#include "ui/ip_address_ctrl.h"
#include "ui/resource.h"

CAddMADlg::CAddMADlg(QWidget* pParent) : CStyleDialog(IDD_ADDMA_DIALOG, pParent)
{
}

bool CAddMADlg::OnInitDialog()
{
    const bool bResult = CStyleDialog::OnInitDialog();
    if (CIpAddressCtrl* pCtrl = IpAddressCtrl(IDC_ADD_ADDRESS))
        pCtrl->ClearAddress();
    return bResult;
}

void CAddMADlg::OnOK()
{
    std::uint32_t dwCtrl = 0;
    if (CIpAddressCtrl* pCtrl = IpAddressCtrl(IDC_ADD_ADDRESS))
        pCtrl->GetAddress(dwCtrl);
    m_dwIp = IpNetFromCtrl(dwCtrl);
    EndDialog(IDOK);
}
