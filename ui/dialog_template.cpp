// The resource script of Vindle: every dialog, the context menu and the
// string table. Positions and sizes are in dialog units; the rows keep the
// order of creation, which is also the tab order.
#include "ui/dialog_template.h"

#include <array>

#include "ui/resource.h"

namespace {

constexpr const char* DIALOG_FONT = "MS Shell Dlg";
constexpr int DIALOG_POINTS = 8;

constexpr std::uint32_t PASSWORD_EDIT = CF_PASSWORD | CF_AUTOHSCROLL | CF_BORDER | CF_TABSTOP;

constexpr std::array ABOUT_ITEMS{
    DlgItemTemplate{IDC_STATIC, CtrlKind::IconStatic, nullptr, 11, 52, 20, 20, CF_NONE, IDR_MAINFRAME},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Orvex-Maintenance Version 1.0.0.6", 40, 49, 119, 8},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Copyright \u00a9 2026 Orvex", 40, 64, 119, 8},
    DlgItemTemplate{IDOK, CtrlKind::DefPushButton, "OK", 92, 97, 50, 16, CF_TABSTOP},
    DlgItemTemplate{IDC_BANNER, CtrlKind::BitmapStatic, nullptr, 0, 0, 20, 20},
};

constexpr std::array MAIN_ITEMS{
    DlgItemTemplate{IDC_NEW_SEARCH, CtrlKind::DefPushButton, "Neue Suche", 14, 154, 50, 16, CF_TABSTOP},
    DlgItemTemplate{IDC_DEVICE_LIST, CtrlKind::ListView, nullptr, 8, 53, 306, 90,
                    CF_ALIGNLEFT | CF_MULTISELECT | CF_BORDER | CF_TABSTOP},
    DlgItemTemplate{IDC_PROGRESS, CtrlKind::ProgressBar, nullptr, 14, 193, 284, 9, CF_BORDER | CF_HIDDEN},
    DlgItemTemplate{IDC_BANNER, CtrlKind::BitmapStatic, nullptr, 0, 0, 15, 13},
    DlgItemTemplate{IDCANCEL, CtrlKind::PushButton, "Beenden", 250, 154, 50, 16, CF_TABSTOP},
    DlgItemTemplate{IDC_INFO, CtrlKind::PushButton, "Info", 192, 154, 50, 16, CF_TABSTOP},
    DlgItemTemplate{IDC_ADAPTER_COMBO, CtrlKind::ComboBox, nullptr, 72, 32, 241, 52, CF_VSCROLL | CF_TABSTOP},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Netzwerk-Adapter:", 8, 34, 62, 8},
    DlgItemTemplate{IDC_CONN_STATUS, CtrlKind::Label, "nicht verbunden", 43, 178, 53, 8},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Status:", 16, 178, 24, 8},
};

constexpr std::array CFG_ITEMS{
    DlgItemTemplate{IDOK, CtrlKind::DefPushButton, "OK", 10, 148, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDCANCEL, CtrlKind::PushButton, "Abbrechen", 138, 149, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDC_IPADDRESS, CtrlKind::IpAddress, nullptr, 73, 60, 100, 15, CF_TABSTOP},
    DlgItemTemplate{IDC_BANNER, CtrlKind::BitmapStatic, nullptr, 0, 0, 20, 20},
    DlgItemTemplate{IDC_NETMASK, CtrlKind::IpAddress, nullptr, 73, 92, 100, 15, CF_TABSTOP},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "IP-Adresse:", 11, 63, 39, 8},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Subnetzmaske:", 11, 95, 50, 8},
    DlgItemTemplate{IDC_GATEWAY, CtrlKind::IpAddress, nullptr, 73, 124, 100, 15, CF_TABSTOP},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Standardgateway:", 11, 127, 61, 8},
};

constexpr std::array PWD_ITEMS{
    DlgItemTemplate{IDOK, CtrlKind::DefPushButton, "OK", 5, 131, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDCANCEL, CtrlKind::PushButton, "Abbrechen", 129, 131, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDC_PASSWORD, CtrlKind::Edit, nullptr, 23, 59, 138, 14, PASSWORD_EDIT},
    DlgItemTemplate{IDC_PASSWORD_REPEAT, CtrlKind::Edit, nullptr, 23, 94, 138, 14, PASSWORD_EDIT},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Kennwort:", 23, 47, 34, 8},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "Kennwortwiederholung:", 23, 83, 77, 8},
    DlgItemTemplate{IDC_BANNER, CtrlKind::BitmapStatic, nullptr, 0, 0, 20, 20},
};

constexpr std::array ADDMA_ITEMS{
    DlgItemTemplate{IDOK, CtrlKind::DefPushButton, "OK", 10, 102, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDCANCEL, CtrlKind::PushButton, "Cancel", 126, 102, 50, 14, CF_TABSTOP},
    DlgItemTemplate{IDC_STATIC, CtrlKind::Label, "MA hinzuf\u00fcgen:", 70, 47, 51, 8},
    DlgItemTemplate{IDC_ADD_ADDRESS, CtrlKind::IpAddress, nullptr, 42, 66, 100, 15, CF_TABSTOP},
    DlgItemTemplate{IDC_BANNER, CtrlKind::BitmapStatic, nullptr, 0, 0, 20, 20},
};

constexpr std::uint32_t SMALL_POPUP = DS_THINBORDER | DS_SYSMENU;

const std::array TEMPLATES{
    DlgTemplate{IDD_ABOUTBOX, nullptr, SMALL_POPUP, 236, 126, DIALOG_FONT, DIALOG_POINTS, ABOUT_ITEMS},
    DlgTemplate{IDD_VINDLE_DIALOG, "Orvex-Maintenance",
                DS_CAPTION | DS_SYSMENU | DS_MINIMIZEBOX | DS_APPWINDOW, 320, 214, DIALOG_FONT, DIALOG_POINTS,
                MAIN_ITEMS},
    DlgTemplate{IDD_CFG_DIALOG, nullptr, SMALL_POPUP, 200, 181, DIALOG_FONT, DIALOG_POINTS, CFG_ITEMS},
    DlgTemplate{IDD_PWD_DIALOG, nullptr, SMALL_POPUP, 186, 150, DIALOG_FONT, DIALOG_POINTS, PWD_ITEMS},
    DlgTemplate{IDD_ADDMA_DIALOG, nullptr, DS_MODALFRAME | DS_SYSMENU, 186, 123, DIALOG_FONT, DIALOG_POINTS,
                ADDMA_ITEMS},
};

constexpr std::array CONTEXT_ITEMS{
    MenuItemTemplate{ID_IP_ADDRESS, "IP-Adresse"},
    MenuItemTemplate{ID_CONNECT, "Verbinden"},
    MenuItemTemplate{ID_DISCONNECT, "Trennen"},
    MenuItemTemplate{ID_SOFTWARE_UPDATE, "Software Update"},
    MenuItemTemplate{ID_SYSTEM_UPDATE, "System Update"},
    MenuItemTemplate{ID_APPLICATION_UPDATE, "Applikations Update"},
    MenuItemTemplate{ID_REBOOT, "Reboot"},
};

const std::array MENUS{
    MenuTemplate{IDR_CONTEXT_MENU, "Context", CONTEXT_ITEMS},
};

}  // namespace

const DlgTemplate* FindDlgTemplate(int nId)
{
    for (const DlgTemplate& t : TEMPLATES) {
        if (t.nId == nId)
            return &t;
    }
    return nullptr;
}

const MenuTemplate* FindMenuTemplate(int nId)
{
    for (const MenuTemplate& m : MENUS) {
        if (m.nId == nId)
            return &m;
    }
    return nullptr;
}

const char* FindStringResource(int nId)
{
    if (nId == IDS_ABOUTBOX)
        return "&Info \u00fcber vindle...";
    return nullptr;
}
