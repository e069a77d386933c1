#include "app/vindle_app.h"

#include <thread>

#include "app/adapters.h"
#include "app/vindle_dlg.h"
#include "net/udp.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"
#include "ui/profile.h"

QString ReadAdapterSetting()
{
    return GetProfileString(QString::fromLatin1(SETTING_SECTION), QString::fromLatin1(SETTING_ADAPTER), QString());
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

    static_cast<void>(CUdp::Init());

    ProgressNotifier.store(&CvindleDlg::OnTftpProgress);
    ProgressReceiver.store(nullptr);
    // A server that cannot listen (port 69 needs a privilege) says so on its
    // own output and ends; the program works on without updates.
    std::thread tftpServer(&TftpServerThread);

    {
        CvindleDlg dlg(dwAdapterAddr, adapters.List());
        dlg.DoModal();
        static_cast<void>(CUdp::Exit());
        // The window's destructor clears ProgressReceiver and stops its
        // endpoints.
    }

    // Ends the server and its transfers in order rather than cutting them
    // off at exit.
    TftpServerStop();
    tftpServer.join();
    return 0;
}
