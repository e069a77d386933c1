#include "config/dialogs/cfg_dlg.h"

#include "ui/ip_address_ctrl.h"
#include "ui/resource.h"

CCfgDlg::CCfgDlg(QWidget* pParent) : CStyleDialog(IDD_CFG_DIALOG, pParent)
{
}

bool CCfgDlg::OnInitDialog()
{
    const bool bResult = CStyleDialog::OnInitDialog();
    const std::pair<int, std::uint32_t> fields[] = {
        {IDC_IPADDRESS, m_dwIp}, {IDC_NETMASK, m_dwNetmask}, {IDC_GATEWAY, m_dwGateway}};
    for (const auto& [nId, dwValue] : fields) {
        CIpAddressCtrl* pCtrl = IpAddressCtrl(nId);
        if (!pCtrl)
            continue;
        // Cleared first: the dialog object may be run more than once.
        pCtrl->ClearAddress();
        if (dwValue != 0)
            pCtrl->SetAddress(IpCtrlFromNet(dwValue));
    }
    return bResult;
}

void CCfgDlg::OnOK()
{
    const std::pair<int, std::uint32_t*> fields[] = {
        {IDC_IPADDRESS, &m_dwIp}, {IDC_NETMASK, &m_dwNetmask}, {IDC_GATEWAY, &m_dwGateway}};
    for (const auto& [nId, pdwValue] : fields) {
        std::uint32_t dwCtrl = 0;
        if (CIpAddressCtrl* pCtrl = IpAddressCtrl(nId))
            pCtrl->GetAddress(dwCtrl);
        *pdwValue = IpNetFromCtrl(dwCtrl);
    }
    EndDialog(IDOK);
}
