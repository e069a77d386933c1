#include "app/vindle_app.h"

#include <csignal>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "app/adapters.h"
#include "app/vindle_dlg.h"
#include "net/udp.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"
#include "ui/profile.h"

namespace {

// SIGINT and SIGTERM (Ctrl-C in the starting terminal, the end of the demo's
// lab) close the window the orderly way. The handler only writes to a pipe;
// the user-interface thread reads it.
int g_signalPipe[2] = {-1, -1};

void OnTerminationSignal(int)
{
    const char byte = 1;
    static_cast<void>(!write(g_signalPipe[1], &byte, 1));
}

bool CatchTerminationSignals()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = &OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

}  // namespace

QString ReadAdapterSetting()
{
    return GetProfileString(QString::fromLatin1(SETTING_SECTION), QString::fromLatin1(SETTING_ADAPTER),
                            QString());
}

std::uint32_t StartupAdapterAddress(const CAdapters& adapters)
{
    const QByteArray saved = ReadAdapterSetting().toUtf8();
    return adapters.AddressFor(std::string_view(saved.constData(), static_cast<std::size_t>(saved.size())));
}

CvindleApp::CvindleApp(int& argc, char** argv) : QApplication(argc, argv)
{
}

int CvindleApp::InitInstance()
{
    // Settings live under "Orvex-Vindle", then the program's name (the
    // executable's base name), see ui/profile.h.
    const CAdapters adapters;
    const std::uint32_t dwAdapterAddr = StartupAdapterAddress(adapters);

    // Nothing to start on POSIX; a socket library that failed would show in
    // every socket call the window makes, which traces it.
    static_cast<void>(CUdp::Init());

    ProgressNotifier.store(&CvindleDlg::OnTftpProgress);
    ProgressReceiver.Set(nullptr);
    // A server that cannot listen (port 69 needs a privilege) says so on its
    // own output and ends; the program works on without updates.
    std::jthread tftpServer(&TftpServerThread);

    {
        CvindleDlg dlg(dwAdapterAddr, adapters.List());
        std::unique_ptr<QSocketNotifier> pSignals;
        if (CatchTerminationSignals()) {
            pSignals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
            QObject::connect(pSignals.get(), &QSocketNotifier::activated, &dlg, [&dlg] {
                char bytes[16];
                while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
                }
                // Dialogs opened over the window close first, so that its own
                // modal loop can end; the adapter is stored only by "Beenden".
                for (QWidget* pWidget : QApplication::topLevelWidgets()) {
                    if (pWidget != &dlg && pWidget->isVisible() && pWidget->isModal())
                        pWidget->close();
                }
                dlg.EndDialog(IDCANCEL);
            });
        }
        dlg.DoModal();
        pSignals.reset();
        CUdp::Exit();
        // The window's destructor clears ProgressReceiver and stops its
        // endpoints.
    }

    // Ends the server and its transfers in order rather than cutting them
    // off at exit.
    tftpServer.request_stop();
    tftpServer.join();
    return 0;
}
