// Dialog templates as data, in the manner of a resource script: the caption,
// frame style, size and every control of each dialog, in dialog units.
// CDialog builds its window from one of these; the tables, and the menu of
// the device list, live in dialog_template.cpp.
#pragma once

#include <cstdint>
#include <span>

enum class CtrlKind : std::uint8_t
{
    PushButton,
    DefPushButton,  // the button that Enter presses
    Label,          // static text
    IconStatic,     // shows an icon resource (nImage)
    BitmapStatic,   // filled at run time (the banner)
    Edit,
    IpAddress,  // four octet fields
    ListView,   // icon view
    ComboBox,   // drop-down list
    ProgressBar,
};

// Control style bits that matter on this platform.
enum CtrlFlag : std::uint32_t
{
    CF_NONE = 0,
    CF_PASSWORD = 1u << 0,  // characters hidden
    CF_AUTOHSCROLL = 1u << 1,
    CF_BORDER = 1u << 2,
    CF_TABSTOP = 1u << 3,
    CF_HIDDEN = 1u << 4,  // created invisible
    CF_VSCROLL = 1u << 5,
    CF_MULTISELECT = 1u << 6,
    CF_ALIGNLEFT = 1u << 7,
};

// Window style bits of a template.
enum DlgStyle : std::uint32_t
{
    DS_NONE = 0,
    DS_CAPTION = 1u << 0,  // title bar with the caption
    DS_SYSMENU = 1u << 1,
    DS_MINIMIZEBOX = 1u << 2,
    DS_THINBORDER = 1u << 3,  // pop-up with a thin border, no title bar
    DS_MODALFRAME = 1u << 4,  // pop-up with a dialog frame, no title bar
    DS_APPWINDOW = 1u << 5,   // shown in the task bar
};

struct DlgItemTemplate
{
    int nId;  // IDC_STATIC (-1) for labels
    CtrlKind kind;
    const char* pszText;  // UTF-8; nullptr for none
    int x, y, cx, cy;     // dialog units
    std::uint32_t dwFlags = CF_NONE;
    int nImage = 0;  // icon resource of an IconStatic
};

struct DlgTemplate
{
    int nId;
    const char* pszCaption;  // UTF-8; nullptr for none
    std::uint32_t dwStyle;
    int cx, cy;           // dialog units
    const char* pszFont;  // as written in the template
    int nPointSize;
    std::span<const DlgItemTemplate> items;  // template order = tab order
};

// The template with that id, or nullptr.
const DlgTemplate* FindDlgTemplate(int nId);

struct MenuItemTemplate
{
    int nId;              // 0 = separator
    const char* pszText;  // UTF-8
};

struct MenuTemplate
{
    int nId;
    const char* pszTitle;  // the one pop-up's name
    std::span<const MenuItemTemplate> items;
};

// The menu with that id, or nullptr.
const MenuTemplate* FindMenuTemplate(int nId);

// The string resource with that id (UTF-8), or nullptr.
const char* FindStringResource(int nId);
