// INI reader, section rules and their warnings, and the start-up summary.

#include <gtest/gtest.h>

#include <sstream>

#include <arpa/inet.h>

#include "tftp/ini_reader.h"
#include "tftp/tftp_config.h"
#include "tftp/tftp_server.h"
#include "tftp_test_support.h"

namespace {

std::vector<std::string> Entries(const std::string& ini, const char* section)
{
    std::istringstream in(ini);
    const IniSection s = ReadIniSection(in, section);
    std::vector<std::string> entries;
    for (std::size_t i = NextIniEntry(s.entries, 0, false); i < s.entries.size();
         i = NextIniEntry(s.entries, i, true))
        entries.push_back(s.entries[i]);
    return entries;
}

using List = std::vector<std::string>;

TEST(IniReader, FindsSectionsAndTheirEntries)
{
    struct Case
    {
        const char* name;
        std::string ini;
        List entries;
    };
    const Case cases[] = {
        {"plain", "[HOME]\nfw=/srv\n", {"fw=/srv"}},
        {"header in lower case", "[home]\nfw=/srv\n", {"fw=/srv"}},
        {"header in mixed case with comment", "[Home] ; the folders\nfw=/srv\n", {"fw=/srv"}},
        {"indented header is not one", " [HOME]\nfw=/srv\n", {}},
        {"comments and indented lines skipped", "[HOME]\n; note\n# note\n  indented\nfw=/srv\n", {"fw=/srv"}},
        {"trailing blanks and CR cut", "[HOME]\nfw=/srv  \t\r\n\r\n", {"fw=/srv"}},
        {"case of entries kept", "[HOME]\nFW=/Srv\n", {"FW=/Srv"}},
        {"ends at next section", "[HOME]\na=/1\n[OTHER]\nb=/2\n", {"a=/1"}},
        {"absolute bare path", "[HOME]\n/srv/tftp\n", {"/srv/tftp"}},
        {"two occurrences", "[HOME]\na=/1\n[X]\n[HOME]\nb=/2\n", {"a=/1", "b=/2"}},
        // The line that ends a section is consumed without being looked at
        // as a header, so a repeated header right after the entries is lost.
        {"repeat directly after", "[HOME]\na=/1\n[HOME]\nb=/2\n", {"a=/1"}},
        {"missing section", "[OTHER]\na=/1\n", {}},
        {"no file", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Entries(c.ini, "HOME"), c.entries);
    }
}

TEST(IniReader, ReadsLongLinesInPiecesOf254)
{
    const std::string longEntry = "a" + std::string(300, 'b');
    const List entries = Entries("[HOME]\n" + longEntry + "\n", "HOME");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], longEntry.substr(0, 254));
    EXPECT_EQ(entries[1], longEntry.substr(254));
}

TEST(IniReader, ReportsWhetherTheSectionExists)
{
    std::istringstream in("[LOGGING]\n[HOME]\n");
    EXPECT_TRUE(ReadIniSection(in, "LOGGING").found);
    EXPECT_FALSE(ReadIniSection(in, "ALLOWED-CLIENTS").found);
}

// Reads an INI text into m_settings, warnings into `reports`.
class TftpConfigTest : public ::testing::Test
{
protected:
    void Read(const std::string& ini, const ReportCapture& reports)
    {
        std::istringstream in(ini);
        m_settings = ReadTftpSettings(in, "/opt/vindle/vindle", reports.Reporter());
    }
    // With [LISTEN-ON] set, so that no interface is looked up.
    void Configure(const std::string& ini, const ReportCapture& reports)
    {
        Read("[LISTEN-ON]\n127.0.0.1:0\n" + ini, reports);
    }
    void Configure(const std::string& ini) { Configure(ini, m_reports); }
    bool ClientAllowed(const char* ip) const { return TftpClientAllowed(m_settings.config, inet_addr(ip)); }

    ReportCapture m_reports;
    TftpSettings m_settings;
};

TEST_F(TftpConfigTest, DefaultsWithoutEntries)
{
    Configure("");
    EXPECT_EQ(m_settings.maxBlockSize, 65464u);
    EXPECT_EQ(m_settings.defaultInterval, 3);
    EXPECT_FALSE(m_settings.config.overwrite);
    EXPECT_EQ(m_settings.config.portLow, 0u);
    EXPECT_EQ(m_settings.config.clients[0].low, 0u);
    EXPECT_EQ(m_settings.config.homes[0].alias, "");
    EXPECT_EQ(m_settings.config.homes[0].path, "/opt/vindle/");
    EXPECT_EQ(m_settings.config.logLevel, TftpLogLevel::All);
    EXPECT_TRUE(m_reports.Lines().empty());
}

TEST_F(TftpConfigTest, OptionsAreClampedAsDocumented)
{
    struct Case
    {
        const char* entry;
        std::uint32_t maxBlockSize;
        std::uint16_t interval;
        bool overwrite;
        std::uint32_t portLow;
        std::uint32_t portHigh;
        const char* warning;  // nullptr: none
    };
    const Case cases[] = {
        {"blksize=100", 512, 3, false, 0, 0, nullptr},
        {"blksize=70000", 65464, 3, false, 0, 0, nullptr},
        {"blksize=65464", 65464, 3, false, 0, 0, nullptr},
        {"blksize=1468", 1468, 3, false, 0, 0, nullptr},
        {"BLKSIZE=1024", 1024, 3, false, 0, 0, nullptr},
        // Numbers convert as the C library does: leading blanks and a sign
        // are allowed.
        {"blksize= 1024", 1024, 3, false, 0, 0, nullptr},
        {"blksize= -5", 512, 3, false, 0, 0, nullptr},
        {"interval=+7", 65464, 7, false, 0, 0, nullptr},
        {"interval=0", 65464, 3, false, 0, 0, nullptr},
        {"interval=500", 65464, 120, false, 0, 0, nullptr},
        // 65536 is 0 in 16 bits, which means the default.
        {"interval=65536", 65464, 3, false, 0, 0, nullptr},
        {"interval=7", 65464, 7, false, 0, 0, nullptr},
        {"overwrite=Y", 65464, 3, true, 0, 0, nullptr},
        {"overwrite=yes", 65464, 3, false, 0, 0, nullptr},
        {"port-range=3000-3000", 65464, 3, false, 3000, 3000, nullptr},
        {"port-range=1000-2000", 65464, 3, false, 0, 0, "Invalid port range 1000\n\n"},
        {"port-range=5000-4000", 65464, 3, false, 0, 0, "Invalid port range 5000\n\n"},
        {"port-range=5000", 65464, 3, false, 0, 0, "Invalid port range 5000\n\n"},
        {"port-range=5000-65535", 65464, 3, false, 0, 0, "Invalid port range 5000\n\n"},
        {"blksize = 1024", 65464, 3, false, 0, 0, "Unknown Option blksize \n\n"},
        {"Color=red", 65464, 3, false, 0, 0, "Unknown Option color\n\n"},
        {"noequals", 65464, 3, false, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        ReportCapture reports;
        Configure(std::string("[TFTP-OPTIONS]\n") + c.entry + "\n", reports);
        EXPECT_EQ(m_settings.maxBlockSize, c.maxBlockSize);
        EXPECT_EQ(m_settings.defaultInterval, c.interval);
        EXPECT_EQ(m_settings.config.overwrite, c.overwrite);
        EXPECT_EQ(m_settings.config.portLow, c.portLow);
        EXPECT_EQ(m_settings.config.portHigh, c.portHigh);
        EXPECT_EQ(reports.All(), c.warning ? c.warning : "");
    }
}

TEST_F(TftpConfigTest, ListenOnTakesValidAddressesOnce)
{
    Read("[LISTEN-ON]\n0.0.0.0\nboxhost\n10.1.2\n1.2.3.999\n192.168.1.5:6969\n192.168.1.5\n127.0.0.1\n",
         m_reports);
    EXPECT_EQ(m_reports.All(), "Warning: Section [LISTEN-ON], Invalid IP Address 0.0.0.0, ignored\n"
                               "Warning: Section [LISTEN-ON], Invalid IP Address boxhost, ignored\n"
                               "Warning: Section [LISTEN-ON], Invalid IP Address 10.1.2, ignored\n"
                               "Warning: Section [LISTEN-ON], Invalid IP Address 1.2.3.999, ignored\n");
    EXPECT_EQ(m_settings.config.listenIp[0], inet_addr("192.168.1.5"));
    EXPECT_EQ(m_settings.config.listenPort[0], 6969);  // the first port stays
    EXPECT_EQ(m_settings.config.listenIp[1], inet_addr("127.0.0.1"));
    EXPECT_EQ(m_settings.config.listenPort[1], 69);
    EXPECT_EQ(m_settings.config.listenIp[2], 0u);
}

TEST_F(TftpConfigTest, ListenOnStopsAtEightAddresses)
{
    std::string ini = "[LISTEN-ON]\n";
    for (int i = 1; i <= 10; ++i)
        ini += "10.0.0." + std::to_string(i) + "\n";
    Read(ini, m_reports);
    EXPECT_EQ(m_settings.config.listenIp[7], inet_addr("10.0.0.8"));
    EXPECT_TRUE(m_reports.Lines().empty());
}

// The transfer limits take a positive count; anything else keeps the
// default, since "no limit" is what they exist to prevent. They draw no
// warning and do not show in the start-up summary.
TEST(TftpSettings, TransferLimitsTakePositiveCounts)
{
    struct Case
    {
        const char* entries;
        std::uint32_t total;
        std::uint32_t perClient;
    };
    const Case cases[] = {
        {"", 256, 16},
        {"max-transfers=8\nMAX-TRANSFERS-PER-CLIENT=3\n", 8, 3},
        {"max-transfers=0\nmax-transfers-per-client=-2\n", 256, 16},
        {"max-transfers=many\nmax-transfers-per-client=99999999999\n", 256, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        TftpReporter reporter;
        reporter.SetSink([](std::string_view line) { ADD_FAILURE() << line; });
        std::istringstream ini(std::string("[LISTEN-ON]\n127.0.0.1:0\n[TFTP-OPTIONS]\n") + c.entries);
        const TftpSettings settings = ReadTftpSettings(ini, "/opt/vindle/vindle", reporter);
        EXPECT_EQ(settings.maxTransfers, c.total);
        EXPECT_EQ(settings.maxTransfersPerClient, c.perClient);
    }
}

TEST_F(TftpConfigTest, HomeEntriesFollowTheirRules)
{
    struct Case
    {
        const char* name;
        std::string entries;
        std::vector<TftpHomeEntry> homes;  // the leading entries expected
        std::string warnings;
    };
    const Case cases[] = {
        {"bare path gets a separator", "/srv/tftp\n", {{"", "/srv/tftp/"}}, ""},
        {"aliases", "fw=/srv/fw\nlogs=/var/log/\n", {{"fw", "/srv/fw/"}, {"logs", "/var/log/"}}, ""},
        // An entry must start with a letter, digit or "/"; "=" makes it a
        // comment line.
        {"empty alias is a comment", "=/srv\n", {{"", "/opt/vindle/"}}, ""},
        {"empty path", "fw=\n", {{"", "/opt/vindle/"}}, "Section [HOME], alias name too large\n"},
        {"alias of 64 characters",
         std::string(64, 'a') + "=/srv\n",
         {{"", "/opt/vindle/"}},
         "Section [HOME], alias name too large\n"},
        {"alias with a dot",
         "f.w=/srv\n",
         {{"", "/opt/vindle/"}},
         "Section [HOME], invalid chars in alias f.w, entry ignored\n"},
        {"duplicate alias in other case",
         "fw=/a\nFW=/b\n",
         {{"fw", "/a/"}, {"", ""}},
         "Section [HOME], Duplicate Entry: FW=/b ignored\n"},
        {"bare path after alias",
         "fw=/a\n/srv\n",
         {{"fw", "/a/"}, {"", ""}},
         "Section [HOME], alias and bare path mixup, entry /srv ignored\n"},
        {"alias after bare path",
         "/srv\nfw=/a\n",
         {{"", "/srv/"}, {"", ""}},
         "Section [HOME], alias and bare path mixup, entry fw=/a ignored\n"},
        {"second bare path",
         "/srv\n/other\n",
         {{"", "/srv/"}},
         "Section [HOME], Duplicate Path: /other ignored\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReportCapture reports;
        Configure("[HOME]\n" + c.entries, reports);
        for (std::size_t i = 0; i < c.homes.size(); ++i) {
            EXPECT_EQ(m_settings.config.homes[i].alias, c.homes[i].alias) << i;
            EXPECT_EQ(m_settings.config.homes[i].path, c.homes[i].path) << i;
        }
        EXPECT_EQ(reports.All(), c.warnings);
    }
}

TEST_F(TftpConfigTest, NinthAliasIsDroppedSilently)
{
    std::string entries;
    for (int i = 1; i <= 9; ++i)
        entries += "a" + std::to_string(i) + "=/d" + std::to_string(i) + "\n";
    Configure("[HOME]\n" + entries);
    EXPECT_EQ(m_settings.config.homes[7].alias, "a8");
    EXPECT_TRUE(m_reports.Lines().empty());
}

TEST_F(TftpConfigTest, AllowedClientsTakeValidRanges)
{
    Configure("[ALLOWED-CLIENTS]\n10.0.0.5\n10.0.1.1-10.0.1.9\n10.0.2.9-10.0.2.1\n255.255.255.255\n"
              "0.0.0.0-1.1.1.1\nbox\n");
    EXPECT_EQ(m_reports.All(),
              "Section [ALLOWED-CLIENTS] Invalid entry 10.0.2.9-10.0.2.1 in ini file, ignored\n"
              "Section [ALLOWED-CLIENTS] Invalid entry 255.255.255.255 in ini file, ignored\n"
              "Section [ALLOWED-CLIENTS] Invalid entry 0.0.0.0-1.1.1.1 in ini file, ignored\n"
              "Section [ALLOWED-CLIENTS] Invalid entry box in ini file, ignored\n");
    EXPECT_TRUE(ClientAllowed("10.0.0.5"));
    EXPECT_FALSE(ClientAllowed("10.0.0.6"));
    EXPECT_TRUE(ClientAllowed("10.0.1.1"));
    EXPECT_TRUE(ClientAllowed("10.0.1.9"));
    EXPECT_FALSE(ClientAllowed("10.0.1.10"));
    EXPECT_FALSE(ClientAllowed("10.0.2.5"));
}

TEST_F(TftpConfigTest, AllowedClientsBeyondThe32ndAreRefusedWithAWarning)
{
    std::string entries;
    for (int i = 1; i <= 33; ++i)
        entries += "10.0.0." + std::to_string(i) + "\n";
    Configure("[ALLOWED-CLIENTS]\n" + entries);
    EXPECT_TRUE(ClientAllowed("10.0.0.32"));
    EXPECT_FALSE(ClientAllowed("10.0.0.33"));
    EXPECT_EQ(m_reports.All(), "Section [ALLOWED-CLIENTS] too many entries, 10.0.0.33 ignored\n");
}

TEST_F(TftpConfigTest, LoggingWarnsOnlyAboutAnUnknownLevel)
{
    Configure("[LOGGING]\nerrors\n");
    EXPECT_EQ(m_reports.All(), "");
    Configure("[LOGGING]\nVerbose\nNone\n");
    EXPECT_EQ(m_reports.All(), "Section [LOGGING], Invalid Logging Level: Verbose ignored\n");
    EXPECT_EQ(m_settings.config.logLevel, TftpLogLevel::All);
}

TEST(TftpHomes, HomeDirectoryReplacementAddsTheSeparator)
{
    TftpServer server;
    server.SetHomeDirectory("/media/updates");
    EXPECT_EQ(server.HomeEntries()[0].path, "/media/updates/");
}

TEST(TftpStartup, SummaryListsTheConfigurationInOrder)
{
    struct Case
    {
        const char* name;
        const char* ini;     // after [LISTEN-ON] 127.0.0.1:0
        const char* before;  // the summary up to the listening line
        const char* after;   // the summary after it
    };
    const Case cases[] = {
        {"every setting given",
         "[HOME]\n/srv/tftp\n[TFTP-OPTIONS]\nport-range=3000-3001\nblksize=8192\ninterval=5\noverwrite=y\n"
         "max-transfers=4\nmax-transfers-per-client=2\nwindowsize=64\n"
         "[ALLOWED-CLIENTS]\n10.0.0.5\n127.0.0.1-127.0.0.9\n",
         "\nStarting TFTP...\n"
         "alias / is mapped to /srv/tftp/\n",
         "permitted clients: 10.0.0.5-10.0.0.5\n"
         "permitted clients: 127.0.0.1-127.0.0.9\n"
         "server port range: 3000-3001\n"
         "max blksize: 8192\n"
         "max windowsize: 64\n"
         "defult blksize: 512\n"
         "default interval: 5\n"
         "overwrite existing files: yes\n"},
        {"defaults, aliases in table order", "[HOME]\nfw=/srv/fw\nLogs=/var/log\n",
         "\nStarting TFTP...\n"
         "alias /fw is mapped to /srv/fw/\n"
         "alias /Logs is mapped to /var/log/\n",
         "permitted clients: all\n"
         "server port range: all\n"
         "max blksize: 65464\n"
         "defult blksize: 512\n"
         "default interval: 3\n"
         "overwrite existing files: no\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReportCapture reports;
        TftpServer server;
        server.SetReportSink(reports.Sink());
        std::istringstream ini(std::string("[LISTEN-ON]\n127.0.0.1:0\n") + c.ini);
        ASSERT_EQ(server.Start(ini, "/opt/vindle/vindle"), TFTP_SERVER_OK);
        const std::string port = std::to_string(server.ListenPort(0));
        server.Stop();
        EXPECT_EQ(reports.All(), std::string(c.before) + "listening On: 127.0.0.1:" + port + "\n" + c.after +
                                     "\nAccepting requests..\n");
    }
}

TEST(TftpStartup, WindowSizeIsClampedAndNamedOnlyAboveOne)
{
    const std::pair<const char*, const char*> cases[] = {
        {"windowsize=16", "max windowsize: 16\n"},
        {"WINDOWSIZE=70000", "max windowsize: 65535\n"},
        {"windowsize=1", nullptr},
        {"windowsize=0", nullptr},
        {"windowsize=-8", nullptr},
        {"windowsize=lots", nullptr},
    };
    for (const auto& [entry, line] : cases) {
        SCOPED_TRACE(entry);
        ReportCapture reports;
        TftpServer server;
        server.SetReportSink(reports.Sink());
        std::istringstream ini(std::string("[LISTEN-ON]\n127.0.0.1:0\n[TFTP-OPTIONS]\n") + entry + "\n");
        ASSERT_EQ(server.Start(ini, "/opt/vindle/vindle"), TFTP_SERVER_OK);
        server.Stop();
        const std::string all = reports.All();
        if (line)
            EXPECT_NE(all.find(std::string("max blksize: 65464\n") + line + "defult blksize"),
                      std::string::npos)
                << all;
        else
            EXPECT_EQ(all.find("windowsize"), std::string::npos) << all;
    }
}

TEST(TftpStartup, NoListeningAddressMeansNoServer)
{
    ReportCapture reports;
    TftpServer server;
    server.SetReportSink(reports.Sink());
    // 192.0.2.1 (documentation range) is no address of this machine.
    std::istringstream ini("[LISTEN-ON]\n192.0.2.1:0\n");
    EXPECT_EQ(server.Start(ini, "/opt/vindle/vindle"), TFTP_SERVER_NO_ENDPOINT);
    EXPECT_EQ(reports.All(),
              "192.0.2.1 Port 0, bind failed\nNo listening Interfaces available, stopping...\n");
}

}  // namespace
