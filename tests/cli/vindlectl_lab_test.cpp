// vindlectl as a person runs it, against simulated boxes in the lab: an
// update of a fleet of twenty (most ok; error, dropped, slow, unreachable), the
// failure limit, Ctrl-C twice in the middle of a run, a box that answers
// "ok" without fetching or with a forged line, two boxes on one address,
// and input refused before anything is sent.

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "tests/common/lab.h"

namespace {

using namespace std::chrono_literals;

class Vindlectl : public LabTest
{
protected:
    // Boxes the lab must have for the fleet update.
    static constexpr int FLEET = 20;

    int MinBoxes() const override { return FLEET; }

    void SetUp() override
    {
        LabTest::SetUp();
        char folder[] = "/tmp/vindlectl-lab-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_dir = folder;
        m_file = m_dir + "/fw.bin";
        std::ofstream out(m_file, std::ios::binary);
        for (int i = 0; i < 200000; ++i)
            out.put(static_cast<char>(i * 7));
    }
    void TearDown() override
    {
        m_boxes.clear();
        if (!m_dir.empty())
            (void)!std::system(("rm -rf " + m_dir).c_str());
    }

    // Starts vindle-box in lab box `index` and waits until it serves.
    void StartBox(int index, std::vector<std::string> extra = {})
    {
        std::vector<std::string> argv = {ToolPath("vindle-box"), "--lifetime", "200"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto box = std::make_unique<LabProcess>(index, argv, LabProcess::Output::Capture);
        ASSERT_TRUE(box->Started()) << box->Error();
        ASSERT_TRUE(box->WaitForText("config: listening", 5s)) << box->Captured();
        m_boxes.push_back(std::move(box));
    }

    std::unique_ptr<LabProcess> Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), ToolPath("vindlectl"));
        auto ctl = std::make_unique<LabProcess>(LAB_TOOL_SIDE, args, LabProcess::Output::CaptureMerged);
        EXPECT_TRUE(ctl->Started()) << ctl->Error();
        return ctl;
    }

    int Run(std::vector<std::string> args, std::string* output = nullptr, std::chrono::seconds timeout = 60s)
    {
        auto ctl = Start(std::move(args));
        const auto code = ctl->Wait(timeout);
        ctl->Drain(1s);
        if (output)
            *output = ctl->Captured();
        return code.value_or(-1);
    }

    nlohmann::json Report(const std::string& path)
    {
        std::ifstream in(path);
        return nlohmann::json::parse(in, nullptr, false);
    }

    // The report's record of the box at ip.
    static nlohmann::json BoxAt(const nlohmann::json& report, const std::string& ip)
    {
        for (const auto& box : report["boxes"])
            if (box["ip"] == ip)
                return box;
        return nullptr;
    }

    std::string m_dir;
    std::string m_file;
    std::vector<std::unique_ptr<LabProcess>> m_boxes;
};

TEST_F(Vindlectl, FleetUpdateReportsWhatEachBoxDidAndRetriesOnlyLostOnes)
{
    // Box i has the address 10.77.0.(i + 1). Most boxes update; two answer
    // "error", two drop the connection on every attempt, one is slow.
    struct Row
    {
        int box;
        std::vector<std::string> options;
        const char* result;
        int attempts;
    };
    std::vector<Row> rows;
    for (int i = 1; i <= FLEET; ++i)
        rows.push_back({i, {}, "ok", 1});
    rows[2 - 1] = {2, {"--update-answer", "error", "--update-error", "Flash voll"}, "Flash voll", 1};
    rows[9 - 1] = {9, {"--update-answer", "error"}, "Update fehlgeschlagen", 1};
    rows[3 - 1] = {3, {"--update-answer", "drop"}, "connection lost", 2};
    rows[14 - 1] = {14, {"--update-answer", "drop"}, "connection lost", 2};
    rows[4 - 1] = {4, {"--update-delay", "1500"}, "ok", 1};
    std::vector<std::string> args = {"update", "system", m_file};
    for (const Row& row : rows) {
        StartBox(row.box, row.options);
        args.push_back("10.77.0." + std::to_string(row.box + 1));
    }
    // 10.77.0.60 belongs to no box: the pre-flight finds nothing there.
    args.push_back("10.77.0.60");
    const std::string report = m_dir + "/report.json";
    // Five failures end no run that allows six: every box gets its turn.
    for (const char* option : {"--retries", "1", "--parallel", "4", "--max-failures", "6", "--report"})
        args.push_back(option);
    args.push_back(report);
    std::string output;
    const int code = Run(args, &output, 240s);
    EXPECT_EQ(code, 1) << output;
    const nlohmann::json json = Report(report);
    ASSERT_FALSE(json.is_discarded()) << output;
    EXPECT_EQ(json["file"]["size"], 200000);
    EXPECT_FALSE(json["cancelled"].get<bool>());
    ASSERT_EQ(json["boxes"].size(), rows.size() + 1) << output;
    for (const Row& row : rows) {
        const std::string ip = "10.77.0." + std::to_string(row.box + 1);
        SCOPED_TRACE(ip);
        const nlohmann::json box = BoxAt(json, ip);
        ASSERT_FALSE(box.is_null()) << output;
        EXPECT_EQ(box["result"], row.result);
        EXPECT_EQ(box["attempts"], row.attempts);
        // The box downloads before it answers, so every box that answered
        // was served the whole file.
        if (row.attempts == 1) {
            EXPECT_EQ(box["bytes_served"], 200000);
        }
    }
    const nlohmann::json lost = BoxAt(json, "10.77.0.60");
    ASSERT_FALSE(lost.is_null()) << output;
    EXPECT_EQ(lost["result"], "unreachable");
    EXPECT_EQ(lost["attempts"], 0);
    // Its info was read first.
    EXPECT_EQ(BoxAt(json, "10.77.0.2")["info_before"]["firmware"], "fw-1.0");
    EXPECT_EQ(BoxAt(json, "10.77.0.2")["mac"], "02-77-00-00-00-02");
    // Standard output holds the table and nothing of the core's traces.
    EXPECT_EQ(output.find("TCP_CONNECT_IND"), std::string::npos) << output;
}

TEST_F(Vindlectl, FailureLimitStopsNewStartsAndWaitBackReadsInfoAgain)
{
    for (int i = 1; i <= 3; ++i)
        StartBox(i, {"--update-answer", "error"});
    StartBox(4);
    const std::string report = m_dir + "/limit.json";
    EXPECT_EQ(Run({"update", "app", m_file, "10.77.0.2", "10.77.0.3", "10.77.0.4", "--parallel", "1",
                   "--max-failures", "2", "--report", report}),
              1);
    const nlohmann::json json = Report(report);
    ASSERT_FALSE(json.is_discarded());
    EXPECT_EQ(BoxAt(json, "10.77.0.2")["result"], "Update fehlgeschlagen");
    EXPECT_EQ(BoxAt(json, "10.77.0.3")["attempts"], 1);
    EXPECT_EQ(BoxAt(json, "10.77.0.4")["result"], "not started");
    EXPECT_EQ(BoxAt(json, "10.77.0.4")["attempts"], 0);

    const std::string back = m_dir + "/back.csv";
    std::string output;
    EXPECT_EQ(Run({"update", "software", m_file, "02:77:00:00:00:05", "--wait-back", "20", "--report", back},
                  &output),
              0)
        << output;
    std::ifstream in(back);
    std::stringstream csv;
    csv << in.rdbuf();
    EXPECT_NE(csv.str().find("02:77:00:00:00:05,10.77.0.5,ok,1,200000,"), std::string::npos) << csv.str();
    EXPECT_NE(csv.str().find(",fw-1.0,fw-1.0,vindle-box|"), std::string::npos) << csv.str();
}

TEST_F(Vindlectl, CtrlCTwiceEndsTheRunningBoxesAndStillReportsEveryBox)
{
    for (int i = 1; i <= 4; ++i)
        StartBox(i, {"--update-delay", "120000"});
    const std::string report = m_dir + "/cancel.json";
    auto ctl = Start({"update", "system", m_file, "10.77.0.0/24", "--parallel", "2", "--report", report});
    // Both running boxes have their file and wait for their answer.
    ASSERT_TRUE(WaitFor(
        [&] {
            ctl->Drain(50ms);
            const std::string& text = ctl->Captured();
            const std::size_t first = text.find("100% served");
            return first != std::string::npos && text.find("100% served", first + 1) != std::string::npos;
        },
        20s))
        << ctl->Captured();
    ctl->Signal(SIGINT);
    ASSERT_TRUE(ctl->WaitForText("no new box starts", 5s)) << ctl->Captured();
    // The first Ctrl-C does not end the run: both boxes still wait.
    EXPECT_TRUE(ctl->Running());
    ctl->Signal(SIGINT);
    const auto code = ctl->Wait(20s);
    ctl->Drain(1s);
    ASSERT_TRUE(code.has_value()) << ctl->Captured();
    EXPECT_EQ(*code, 1);
    const nlohmann::json json = Report(report);
    ASSERT_FALSE(json.is_discarded()) << ctl->Captured();
    EXPECT_TRUE(json["cancelled"].get<bool>());
    ASSERT_EQ(json["boxes"].size(), 4u);
    int started = 0;
    for (const auto& box : json["boxes"]) {
        EXPECT_EQ(box["result"], "cancelled");
        started += box["attempts"].get<int>();
    }
    EXPECT_EQ(started, 2);
}

TEST_F(Vindlectl, AnOkWithoutTheFileIsUnverifiedAndABoxCannotForgeALine)
{
    const std::string forged = "\x1b[1A\x1b[2K10.77.0.2: ok";
    StartBox(1, {"--no-update-download"});
    StartBox(2);
    StartBox(3, {"--update-answer", "error", "--update-error", forged});
    const std::string report = m_dir + "/report.json";
    std::string output;
    EXPECT_EQ(
        Run({"update", "app", m_file, "10.77.0.2", "10.77.0.3", "10.77.0.4", "--report", report}, &output),
        1);
    EXPECT_EQ(output.find('\x1b'), std::string::npos) << output;
    EXPECT_NE(output.find("10.77.0.4: \\x1b[1A\\x1b[2K10.77.0.2: ok"), std::string::npos) << output;
    const nlohmann::json json = Report(report);
    EXPECT_EQ(BoxAt(json, "10.77.0.2")["result"], "unverified");
    EXPECT_EQ(BoxAt(json, "10.77.0.2")["bytes_served"], 0);
    EXPECT_EQ(BoxAt(json, "10.77.0.3")["result"], "ok");
    EXPECT_EQ(BoxAt(json, "10.77.0.4")["result"], forged);

    // The operator may take the box's word.
    EXPECT_EQ(Run({"update", "app", m_file, "10.77.0.2", "--trust-box", "--report", report}, &output), 0)
        << output;
    EXPECT_EQ(BoxAt(Report(report), "10.77.0.2")["result"], "ok");
}

TEST_F(Vindlectl, DiscoverFlagsTwoBoxesOnOneAddress)
{
    StartBox(1);
    StartBox(2, {"--ip", "10.77.0.2", "--no-interface-change"});
    std::string output;
    EXPECT_EQ(Run({"discover", "--format", "csv"}, &output), 0);
    EXPECT_NE(output.find("vindlectl: 10.77.0.2: claimed by more than one MAC"), std::string::npos) << output;
    EXPECT_NE(output.find("10.77.0.2,02:77:00:00:00:02,255.255.255.0,0.0.0.0,br0,ip claimed by another mac"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("10.77.0.2,02:77:00:00:00:03,"), std::string::npos) << output;
}

TEST_F(Vindlectl, ARepliedMulticastAddressIsListedButNeverATarget)
{
    StartBox(1);
    StartBox(2, {"--ip", "224.0.0.5", "--no-interface-change"});
    std::string output;
    EXPECT_EQ(Run({"discover", "--format", "csv"}, &output), 0);
    EXPECT_NE(output.find("224.0.0.5,02:77:00:00:00:03,255.255.255.0,0.0.0.0,br0,impossible reply (multicast "
                          "address)"),
              std::string::npos)
        << output;
    // Left out of --all and ranges; named by its MAC, nothing is left.
    const std::pair<const char*, int> rows[] = {{"--all", 0}, {"0.0.0.0/0", 0}, {"02:77:00:00:00:03", 1}};
    for (const auto& [target, status] : rows) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Run({"info", target, "--format", "csv"}, &output), status) << output;
        EXPECT_NE(
            output.find("vindlectl: 224.0.0.5 (02:77:00:00:00:03): left out: impossible reply (multicast "
                        "address)"),
            std::string::npos)
            << output;
        EXPECT_EQ(output.find("\n224.0.0.5,"), std::string::npos) << output;
    }
}

TEST_F(Vindlectl, ResultsThatCannotBeWrittenAreAFailure)
{
    StartBox(1);
    // reboot last: the box is gone for a while after it.
    for (const std::string command : {"discover", "info 10.77.0.2", "reboot 10.77.0.2"}) {
        SCOPED_TRACE(command);
        LabProcess ctl(LAB_TOOL_SIDE,
                       {"/bin/sh", "-c", ToolPath("vindlectl") + " " + command + " >/dev/full"},
                       LabProcess::Output::CaptureMerged);
        ASSERT_TRUE(ctl.Started()) << ctl.Error();
        EXPECT_EQ(ctl.Wait(60s).value_or(-1), 1) << ctl.Captured();
    }
}

TEST_F(Vindlectl, RefusesBadInputWithOneLineAndSendsNothing)
{
    StartBox(1);
    struct Row
    {
        std::vector<std::string> args;
        const char* line;
    };
    const Row rows[] = {
        {{"info", "10.77.0.300"}, "vindlectl: 10.77.0.300: not an IPv4 address, MAC or range\n"},
        {{"reboot", "10.77.0.0/40"},
         "vindlectl: 10.77.0.0/40: not a range like 10.77.0.0/24 (prefix 0 to 32)\n"},
        {{"reboot"},
         "vindlectl: targets: none given; name addresses, MACs or ranges, --all or --from FILE\n"},
        {{"update", "system", "/nonexistent/fw.bin", "10.77.0.2"},
         "vindlectl: /nonexistent/fw.bin: No such file or directory\n"},
        {{"update", "system", m_file, "10.77.0.2", "--port-range", "80-90"},
         "vindlectl: --port-range 80-90: give LO-HI with 1024 <= LO <= HI <= 65534\n"},
        {{"update", "system", m_file, "10.77.0.2", "--adapter", "eth9"},
         "vindlectl: --adapter eth9: no adapter with this name or address\n"},
        {{"info", "10.77.0.2", "--adapter", "10.77.9.1"},
         "vindlectl: --adapter 10.77.9.1: no adapter with this name or address\n"},
        {{"info", "--from", "/nonexistent/list"},
         "vindlectl: /nonexistent/list: No such file or directory\n"},
        {{"passwd", "10.77.0.2", "--password-file", m_dir + "/quote"},
         "vindlectl: password: must not contain a double quote\n"},
    };
    std::ofstream(m_dir + "/quote") << "a\"b\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::string output;
        EXPECT_EQ(Run(row.args, &output), 2);
        EXPECT_EQ(output, row.line);
    }
    // The box saw no connection from any of them.
    m_boxes[0]->Drain(200ms);
    EXPECT_EQ(m_boxes[0]->Captured().find("config: connection from"), std::string::npos)
        << m_boxes[0]->Captured();
}

}  // namespace
