#pragma once
// CvindleApp: the application object and its start-up sequence. It restores
// the adapter chosen last time, enumerates and chooses the adapter, starts
// the built-in TFTP server, runs the main window modally and ends in order.
// The program takes no options of its own (Qt's, such as -platform, stay).

#include <cstdint>

#include <QApplication>
#include <QString>

class CAdapters;

// The setting that remembers the adapter: section and value name.
inline constexpr const char* SETTING_SECTION = "Parameters";
inline constexpr const char* SETTING_ADAPTER = "adapter";

// The description stored by the last "Beenden"; empty when none was.
QString ReadAdapterSetting();
// The address to bind the discovery endpoint to for this run: the saved
// adapter, else the first adapter with an address, else 0.0.0.0.
std::uint32_t StartupAdapterAddress(const CAdapters& adapters);

class CvindleApp final : public QApplication
{
    Q_OBJECT

public:
    CvindleApp(int& argc, char** argv);

    // The whole run; returns the process's exit status once the main window
    // has closed and everything it started has ended.
    int InitInstance();
};
