#pragma once
// Helpers of the main window's lab tests: a scripted stand-in for the
// operator's dialogs and choices, recorded message boxes, the simulated boxes
// of the lab, and waits that keep the user-interface thread turning.
// Test main thread only (the user-interface thread of the test binary).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "app/prompts.h"
#include "tests/common/lab.h"
#include "ui/message_box.h"

class CDialog;
class CvindleDlg;
class QMenu;

// Runs every dialog modeless, lets the test's script fill it and press a
// button, and records whatever the window asked for.
class CScriptedPrompts final : public CAppPrompts
{
public:
    // Fills the dialog's controls and presses OK (dlg.OnOK()) or Cancel;
    // without a script the dialog is cancelled.
    std::function<void(CDialog&)> onDialog;
    // The menu as the window built it; returns the command id to choose.
    std::function<int(QMenu&)> onMenu;
    QString updateFile;         // the file "chosen"; empty = cancelled
    bool confirmAnswer = true;  // the answer to every question

    int dialogs = 0;
    int fileChoosers = 0;
    QStringList questions;
    QStringList urls;

    int RunDialog(CDialog& dlg) override;
    QString ChooseUpdateFile(QWidget* pOwner) override;
    bool Confirm(QWidget* pOwner, const QString& text) override;
    int PopupMenu(QMenu& menu, const QPoint& globalPos) override;
    bool OpenUrl(const QString& url) override;
};

// Records every message box instead of showing it, for as long as it lives.
class CMessageBoxRecorder final
{
public:
    struct Box
    {
        MsgBoxKind kind;
        QString caption;
        QString text;
    };

    CMessageBoxRecorder();
    ~CMessageBoxRecorder();
    const std::vector<Box>& Boxes() const { return *m_pBoxes; }
    bool Has(const QString& text) const;

private:
    std::shared_ptr<std::vector<Box>> m_pBoxes;
};

// Keeps the event loop running until the predicate holds or the time is up.
bool WaitUi(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = WAIT);
// Runs the event loop for a while (lets late deliveries arrive).
void SpinUi(std::chrono::milliseconds duration);
// Runs what is already posted to the user-interface thread (Qt's posted
// events and the window queue's functions, whose wake-up is signalled when
// they are posted) without waiting for anything that may come later. Checks
// that something did not happen use it after the code that could have
// posted it has returned: a pause of some length would prove nothing more
// on a busy machine.
void RunPostedUiEvents();

// Network-order address of dotted text.
std::uint32_t IpOf(const std::string& dotted);

// The lab's simulated boxes, one vindle-box per box namespace, their output
// captured.
class CLabBoxes final
{
public:
    // Starts boxes 1..count with the extra arguments and waits until each
    // reports that its services are up.
    explicit CLabBoxes(int count, const std::vector<std::string>& extraArgs = {});
    LabProcess& Box(int i) { return *m_boxes.at(static_cast<std::size_t>(i - 1)); }
    int Count() const { return static_cast<int>(m_boxes.size()); }
    bool Ready() const { return m_ready; }
    // Reads the boxes' output for a while and counts the lines holding text.
    int CountLines(int i, const std::string& text, std::chrono::milliseconds drainFor);

private:
    std::vector<std::unique_ptr<LabProcess>> m_boxes;
    bool m_ready = true;
};

// Sends a 52-byte search reply to the tool's discovery port, as a box would.
void SendSearchReply(const std::string& toolIp, const std::string& boxIp, const std::uint8_t (&mac)[6]);

// The row of the listed box whose label starts with the address; -1 if none.
int RowOf(const CvindleDlg& dlg, const std::string& ip);

// The body of a test program's main(): Qt's offscreen platform, one
// QApplication around `run`, and a settings folder of its own (made from the
// mkdtemp pattern `settingsPattern`, removed afterwards) so that the adapter
// the window stores never reaches the user's settings. Returns run's result,
// or 2 when the folder cannot be made.
int RunOffscreenApp(int& argc, char** argv, const char* settingsPattern, const std::function<int()>& run);
