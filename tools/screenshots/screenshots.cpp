// Renders Vindle's dialogs offscreen, each preset as an operator would see
// it, and writes <name>.png (100 %) and <name>@2x.png (200 %) into the
// folder given as the argument. The scale factor has to be fixed before the
// application object exists, so the tool runs itself once per scale.
//
//   vindle-screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

#include "config/dialogs/about_dlg.h"
#include "config/dialogs/addma_dlg.h"
#include "config/dialogs/cfg_dlg.h"
#include "config/dialogs/pwd_dlg.h"
#include "ui/ip_address_ctrl.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/style_dialog.h"

extern char** environ;

namespace {

std::uint32_t Net(int a, int b, int c, int d)
{
    return IpNetFromCtrl((std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) |
                         std::uint32_t(d));
}

bool Save(CDialog& dlg, const QDir& out, const QString& name, const QString& suffix)
{
    dlg.ShowModeless();
    QApplication::processEvents();
    const QPixmap shot = dlg.grab();
    dlg.hide();
    const QString path = out.filePath(name + suffix + QStringLiteral(".png"));
    if (!shot.save(path)) {
        std::fprintf(stderr, "vindle-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Template 102 as the main window shows it with two boxes found; the window
// class itself lives in the application.
void FillMainWindow(CStyleDialog& dlg)
{
    auto* pCombo = dlg.DlgItem<QComboBox>(IDC_ADAPTER_COMBO);
    pCombo->addItem(QStringLiteral("eth0 - Intel(R) Ethernet Connection"));
    pCombo->addItem(QStringLiteral("wlan0 - Wireless Network Adapter"));
    auto* pList = dlg.DlgItem<QListWidget>(IDC_DEVICE_LIST);
    for (const char* psz : {"192.168.1.10\n00-11-22-AA-BB-0C", "192.168.1.23\n00-11-22-AA-BC-41",
                            "10.0.0.5\n00-00-00-00-00-00"})
        new QListWidgetItem(LoadAppIcon(), QString::fromUtf8(psz), pList);
    pList->item(0)->setSelected(true);
    dlg.SetDlgItemText(IDC_CONN_STATUS, QStringLiteral("verbunden"));
    CStyleDialog::ApplyLabelStyle(dlg.GetDlgItem(IDC_CONN_STATUS));
    auto* pBar = dlg.DlgItem<QProgressBar>(IDC_PROGRESS);
    pBar->setValue(42);
    pBar->show();
}

int RenderAll(const QDir& out, const QString& suffix)
{
    bool bOk = true;
    {
        CStyleDialog dlg(IDD_VINDLE_DIALOG);
        dlg.OnInitDialog();
        FillMainWindow(dlg);
        dlg.show();
        QApplication::processEvents();
        const QPixmap shot = dlg.grab();
        bOk = shot.save(out.filePath(QStringLiteral("main_window") + suffix + QStringLiteral(".png"))) && bOk;
    }
    {
        CCfgDlg dlg;
        dlg.m_dwIp = Net(192, 168, 1, 10);
        dlg.m_dwNetmask = Net(255, 255, 255, 0);
        bOk = Save(dlg, out, QStringLiteral("ip_settings"), suffix) && bOk;
    }
    {
        CPwdDlg dlg;
        dlg.ShowModeless();
        dlg.SetDlgItemText(IDC_PASSWORD, QStringLiteral("geheim"));
        bOk = Save(dlg, out, QStringLiteral("password"), suffix) && bOk;
    }
    {
        CAddMADlg dlg;
        dlg.ShowModeless();
        bOk = Save(dlg, out, QStringLiteral("add_device"), suffix) && bOk;
    }
    {
        CAboutDlg dlg;
        bOk = Save(dlg, out, QStringLiteral("about"), suffix) && bOk;
    }
    return bOk ? 0 : 1;
}

int RunScaled(const char* self, const char* folder, const char* scale)
{
    setenv("QT_SCALE_FACTOR", scale, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(folder), const_cast<char*>("--scaled"),
                    const_cast<char*>(scale), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0)
        return 1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2) {
        const int first = RunScaled("/proc/self/exe", argv[1], "1");
        const int second = RunScaled("/proc/self/exe", argv[1], "2");
        return first != 0 ? first : second;
    }
    if (argc != 4 || std::strcmp(argv[2], "--scaled") != 0) {
        std::fprintf(stderr, "usage: vindle-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QString suffix = std::strcmp(argv[3], "1") == 0 ? QString() : QStringLiteral("@%1x").arg(argv[3]);
    return RenderAll(out, suffix);
}
