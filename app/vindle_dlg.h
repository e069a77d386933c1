#pragma once
// CvindleDlg: the main window. At once the styled dialog of template 102,
// the discovery endpoint (CInitCfg) and the configuration client (CCfgClt):
// it lists the boxes that answer a search, shows whether the client is
// connected, and carries out every command on a box (context menu, updates,
// IP settings, password, reboot).
//
// Threads: the discovery callbacks run on the UDP receive thread, the
// configuration callbacks on the connection's thread, OnTftpProgress on TFTP
// transfer threads, and the update wait on a thread of its own. None of them
// touches a control or the device list: each copies what it needs and posts
// plain values through m_Queue, so every change of the window happens on
// the user-interface thread and no handler ever sees a record go away under
// it. No worker ever waits for the user-interface thread. The window owns
// the update thread and stops the endpoints' workers through members, so
// both are gone before anything they use.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QTimer>

#include "app/search_pacer.h"
#include "app/user_text.h"
#include "config/cfg_clt.h"
#include "config/cfg_commands.h"
#include "discovery/adapter_list.h"
#include "discovery/init_cfg.h"
#include "ui/style_dialog.h"
#include "ui/uiqueue.h"

class CAppPrompts;
class QComboBox;
class QListWidget;
class QMenu;
class QProgressBar;

// The context-menu item this program adds for the password command.
inline constexpr const char* TEXT_MENU_SET_PASSWORD = "Kennwort setzen";

class CvindleDlg final
    : public CStyleDialog
    , public CInitCfg
    , public CCfgClt
{
    Q_OBJECT

public:
    // Binds the discovery endpoint to dwAdapterAddr (network byte order) and
    // port 4000 at once. pAdapterList belongs to the caller and must outlive
    // the window. pPrompts (not owned) replaces the real file chooser, menus,
    // questions and dialogs; null means the real ones.
    CvindleDlg(std::uint32_t dwAdapterAddr, const AdapterList* pAdapterList, CAppPrompts* pPrompts = nullptr,
               QWidget* pParent = nullptr);
    // Closes the queue and clears the TFTP progress receiver; the members
    // declared last then end a waiting update and stop both endpoints
    // before anything else goes.
    ~CvindleDlg() override;

    bool OnInitDialog() override;
    bool OnCommand(int nId) override;
    // "Beenden", Esc and the close box: stores the chosen adapter and ends.
    void OnCancel() override;

    // Empties the device list and broadcasts one search request.
    void StartSearch();

    // Discovery callbacks (receive thread; pMac valid during the call only).
    void OnSearchReply(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                       const std::uint8_t* pMac) override;
    void OnSetIpReply(std::uint32_t dwIp, std::uint32_t dwNetmask, std::uint32_t dwGateway,
                      const std::uint8_t* pMac) override;

    // Configuration callbacks (connection thread).
    void OnDisconnected(std::int32_t nReason) override;
    void OnConnected() override;
    void OnInfo() override;

    // The device list's right click and double click: nItem is the clicked
    // row, -1 for empty space; listPos in the list's viewport coordinates.
    void OnDeviceRightClick(int nItem, const QPoint& listPos);
    void OnDeviceDoubleClick(int nItem);

    // The TFTP server's progress function (transfer threads). pReceiver is
    // the window that set ProgressReceiver, alive for the whole call.
    static void OnTftpProgress(void* pReceiver, std::int32_t nPercent);

    // What the window shows, for tests and the screenshot tool.
    std::size_t DeviceCount() const { return m_Devices.size(); }
    // The record of list row i (rows and records stay paired even if the
    // list is re-sorted); an empty record for a row that does not exist.
    InitCfgMsg Device(std::size_t i) const;
    bool IsBoxConnected() const { return m_bConnected != 0; }
    bool IsUpdateRunning() const { return m_bUpdateRunning; }
    std::uint32_t AdapterAddress() const { return m_dwAdapterAddr; }
    QString DeviceInfo() const { return QString::fromUtf8(m_szDeviceInfo); }
    QListWidget* DeviceList() const;
    QProgressBar* ProgressBar() const;
    QComboBox* AdapterCombo() const;
    // The context menu as the right click would show it on a listed box.
    std::unique_ptr<QMenu> BuildContextMenu();

private:
    // The record of a list row, null when the row does not exist.
    const InitCfgMsg* RecordAt(int nRow) const;
    void AppendDevice(const InitCfgMsg& record);
    void SetConnectedState(bool bConnected);
    void SetProgress(int nPercent);
    // What makes the search pacer look again.
    enum class SearchCue
    {
        SetIpReply,
        Timer,  // the trailing search's timer
    };
    // Starts a search when the pacer allows one, and arms the timer for a
    // pending one.
    void PaceSearch(SearchCue cue);
    // Shows a status's text in the application message box.
    void ShowStatus(AppStatus status);

    void OnConnect();
    void OnDisconnect();
    void OnReboot();
    void OnIpAddress();
    void OnSetPassword();
    void OnUpdate(std::int32_t nKind);
    void OnAbout();

    // True (after telling the operator) while an update waits for its answer.
    bool RefuseWhileUpdating();
    // The body of the update thread; gets its command as a value. A stop
    // request ends the wait without a verdict.
    void UpdateThread(std::stop_token stop, const std::string& command);
    void FinishUpdate(const QString& verdict, bool bCancelled);

    const AdapterList* m_pAdapterList;
    std::uint32_t m_dwAdapterAddr;
    std::int32_t m_bConnected = 0;
    std::int32_t m_nUpdateKind = 0;
    std::int32_t m_nMenuItem = -1;
    char m_szDeviceInfo[256] = {};
    char m_szUpdateFile[256] = {};
    QIcon m_hIcon;

    // The record of every list item, row for row; user-interface thread only.
    std::vector<InitCfgMsg> m_Devices;
    // Counts the searches, so that a command chosen from a menu opened before
    // a new search does not act on whatever box now has that row.
    std::uint32_t m_dwListGeneration = 0;
    std::uint32_t m_dwMenuGeneration = 0;

    CAppPrompts* m_pPrompts;
    bool m_bUpdateRunning = false;              // user-interface thread; until the verdict is handled
    std::atomic<bool> m_bUpdateWaiting{false};  // while the update thread waits for the box
    std::uint32_t m_dwUpdateSerial = 0;         // user-interface thread

    // Searches started by set-IP replies; user-interface thread.
    CSearchPacer m_SearchPacer;
    QTimer m_SearchTimer;

    // Workers reach the window only through this queue.
    CUiQueue m_Queue;

    // Destroyed in reverse order, before every other member and base: the
    // update thread first (its stop request ends its wait), then the
    // endpoints' workers.
    CWorkerGuard m_StopGuard{static_cast<CCfgClt&>(*this), static_cast<CInitCfg&>(*this)};
    std::jthread m_UpdateThread;
};
