// vindle-app-screenshots: pictures of the real main window for the README,
// taken offscreen inside the lab against simulated boxes: the boxes found,
// the context menu of a connected box, and an update in progress.
//
//   tools/lab/vindle-lab --boxes 3 -- build/main/tests/app/vindle-app-screenshots docs/screenshots
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>

#include "app/adapters.h"
#include "app/vindle_dlg.h"
#include "tests/app/app_test_support.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"

namespace {

using namespace std::chrono_literals;

bool Save(const QPixmap& picture, const std::string& path)
{
    if (!picture.save(QString::fromStdString(path))) {
        std::fprintf(stderr, "vindle-app-screenshots: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

int Run(const std::string& outDir)
{
    if (!Lab().Present() || Lab().Boxes() < 3) {
        std::fprintf(stderr,
                     "vindle-app-screenshots: run me inside the lab with 3 boxes: "
                     "tools/lab/vindle-lab --boxes 3 -- %s DIR\n(%s)\n",
                     "vindle-app-screenshots", Lab().Problem().c_str());
        return 2;
    }
    ProgressNotifier.store(&CvindleDlg::OnTftpProgress);
    std::istringstream noIni;
    if (StartTftpServer(noIni, TftpProgramPath()) != TFTP_SERVER_OK)
        std::fprintf(stderr,
                     "vindle-app-screenshots: no TFTP server; the update picture shows no progress\n");

    char updates[] = "/tmp/vindle-shots-XXXXXX";
    if (mkdtemp(updates) == nullptr)
        return 2;
    const std::string updateFile = std::string(updates) + "/system-update.bin";
    {
        std::ofstream out(updateFile, std::ios::binary);
        for (int i = 0; i < 24 * 1024 * 1024; ++i)
            out.put(static_cast<char>(i * 13));
    }

    int status = 0;
    {
        CLabBoxes boxes(3, {"--info-field", "rev-B", "--update-delay", "60000"});
        CScriptedPrompts prompts;
        CMessageBoxRecorder messages;
        CAdapters adapters;
        CvindleDlg dlg(IpOf(Lab().ToolIp()), adapters.List(), &prompts);
        dlg.ShowModeless();
        dlg.resize(dlg.sizeHint().expandedTo(dlg.size()));
        WaitUi([&] { return dlg.DeviceCount() >= 3; });
        // Sorted by address, as an operator would expect to read them.
        dlg.DeviceList()->sortItems();
        dlg.DeviceList()->item(0)->setSelected(true);
        SpinUi(200ms);
        if (!Save(dlg.grab(), outDir + "/app_boxes.png"))
            status = 1;

        // Connected to the first box, then its context menu.
        prompts.onMenu = [](QMenu&) { return ID_CONNECT; };
        const int row = RowOf(dlg, Lab().Box(1).ip);
        dlg.OnDeviceRightClick(row, QPoint(5, 5));
        WaitUi([&] { return dlg.IsBoxConnected() && !dlg.DeviceInfo().isEmpty(); });
        std::unique_ptr<QMenu> menu = dlg.BuildContextMenu();
        const QRect itemRect = dlg.DeviceList()->visualItemRect(dlg.DeviceList()->item(row));
        const QPoint at = dlg.DeviceList()->viewport()->mapTo(&dlg, itemRect.center());
        menu->popup(dlg.mapToGlobal(at));
        SpinUi(200ms);
        QPixmap withMenu = dlg.grab();
        {
            QPainter painter(&withMenu);
            painter.drawPixmap(at, menu->grab());
        }
        menu->hide();
        if (!Save(withMenu, outDir + "/app_context_menu.png"))
            status = 1;

        // An update on its way: the box fetches the file while the bar moves.
        prompts.updateFile = QString::fromStdString(updateFile);
        dlg.OnCommand(ID_SYSTEM_UPDATE);
        WaitUi([&] { return dlg.ProgressBar()->value() >= 35; }, 15s);
        if (!Save(dlg.grab(), outDir + "/app_update.png"))
            status = 1;
        // Quitting ends the box's long answer.
        prompts.confirmAnswer = true;
        dlg.OnCancel();
    }
    StopTftpServer();
    std::error_code ignored;
    std::filesystem::remove_all(updates, ignored);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vindle-app-screenshots DIR (inside the lab with 3 boxes)\n");
        return 2;
    }
    return RunOffscreenApp(argc, argv, "/tmp/vindle-shots-config-XXXXXX", [&] { return Run(argv[1]); });
}
