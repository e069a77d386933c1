// Resource and control ids of Vindle's dialogs, menu, bitmap, icon and
// strings. The numbers are part of the program's interface between the
// dialog templates (dialog_template.cpp) and the code that reaches controls
// by id, so they never change.
#pragma once

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;       // about box, CAboutDlg
inline constexpr int IDD_VINDLE_DIALOG = 102;  // main window, CvindleDlg
inline constexpr int IDD_CFG_DIALOG = 129;     // IP settings, CCfgDlg
inline constexpr int IDD_PWD_DIALOG = 136;     // password, CPwdDlg
inline constexpr int IDD_ADDMA_DIALOG = 137;   // add a box by hand, CAddMADlg

// Other resources.
inline constexpr int IDS_ABOUTBOX = 101;      // string "&Info über vindle..."
inline constexpr int IDR_MAINFRAME = 128;     // application icon
inline constexpr int IDB_BANNER = 132;        // banner bitmap, 1300 x 56, 24 bit
inline constexpr int IDR_CONTEXT_MENU = 133;  // context menu of the device list

// Dialog results and the standard buttons.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
// Labels carry no id of their own.
inline constexpr int IDC_STATIC = -1;

// Controls shared by every template.
inline constexpr int IDC_BANNER = 1005;  // bitmap static at 0,0

// Main window (template 102).
inline constexpr int IDC_DEVICE_LIST = 1000;    // list view
inline constexpr int IDC_NEW_SEARCH = 1002;     // "Neue Suche", default button
inline constexpr int IDC_PROGRESS = 1007;       // progress bar of an update
inline constexpr int IDC_ADAPTER_COMBO = 1009;  // adapter choice
inline constexpr int IDC_INFO = 1011;           // "Info"
inline constexpr int IDC_CONN_STATUS = 1012;    // "verbunden" / "nicht verbunden"

// IP settings (template 129).
inline constexpr int IDC_IPADDRESS = 1001;
inline constexpr int IDC_NETMASK = 1002;
inline constexpr int IDC_GATEWAY = 1003;

// Password (template 136).
inline constexpr int IDC_PASSWORD = 1011;
inline constexpr int IDC_PASSWORD_REPEAT = 1012;

// Add a box (template 137).
inline constexpr int IDC_ADD_ADDRESS = 1013;

// Commands of the context menu and the window.
inline constexpr int ID_REBOOT = 4;
inline constexpr int ID_SYSTEM_UPDATE = 1003;
inline constexpr int ID_CONNECT = 1004;
inline constexpr int ID_DISCONNECT = 1006;
inline constexpr int ID_APPLICATION_UPDATE = 1010;
inline constexpr int ID_IP_ADDRESS = 32776;
inline constexpr int ID_SOFTWARE_UPDATE = 32778;
inline constexpr int ID_SET_PASSWORD = 32780;
inline constexpr int IDM_ABOUTBOX = 16;  // system-menu item "Info"
