// SPDX-License-Identifier: MIT
// Text control commands of the simulated programmer (kovra-sim's control
// FIFO), and a smoke test of kovra-sim itself on a pseudo-terminal.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/control.h"

#ifdef __linux__
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kovra::sim {
namespace {

struct ControlCase {
  const char* name;
  std::vector<const char*> lines;
  bool ok;  // of the last line
  bool (*check)(Programmer&);
};
// Test logs name the case instead of dumping its bytes.
void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }

class SimControlTest : public ::testing::TestWithParam<ControlCase> {};

TEST_P(SimControlTest, ChangesTheProgrammer) {
  const ControlCase& c = GetParam();
  Programmer programmer;
  ControlReply reply;
  for (const char* line : c.lines) reply = RunControl(programmer, line, 0);
  EXPECT_EQ(reply.ok, c.ok) << reply.text;
  EXPECT_TRUE(c.check(programmer));
}

bool Always(Programmer&) { return true; }

INSTANTIATE_TEST_SUITE_P(
    Sim, SimControlTest,
    ::testing::Values(
        ControlCase{
            "MtpChip",
            {"chip mtp 0x1000"},
            true,
            [](Programmer& p) { return p.GetChip().type == ChipType::kMtp && p.GetChip().rom.size() == 0x1000; }},
        ControlCase{"ChipOut", {"chip absent"}, true, [](Programmer& p) { return !p.GetChip().present; }},
        ControlCase{"BadChip", {"chip eprom"}, false, Always},
        ControlCase{"Protect",
                    {"protect read on", "protect smart on", "protect read off"},
                    true,
                    [](Programmer& p) { return !p.GetChip().readProtected && p.GetChip().smartEnabled; }},
        ControlCase{"BlankClearsAll",
                    {"protect write on", "blank"},
                    true,
                    [](Programmer& p) { return !p.GetChip().writeProtected && p.GetChip().IsBlank(); }},
        ControlCase{"Switches",
                    {"fault silent on", "fault dsr on", "fault no on", "fault no off"},
                    true,
                    [](Programmer& p) {
                      const Faults f = p.GetFaults();
                      return f.silent && f.dsrStuckOn && !f.answerNo;
                    }},
        ControlCase{"Voltage", {"fault voltage 4"}, true, [](Programmer& p) { return p.GetFaults().voltage == '4'; }},
        ControlCase{"StopProgress",
                    {"fault stop-progress 0x123"},
                    true,
                    [](Programmer& p) { return p.GetFaults().stopProgressAt == 0x123u; }},
        ControlCase{"WireFault",
                    {"fault corrupt-to-device 100 3"},
                    true,
                    [](Programmer& p) {
                      return p.GetFaults().toDevice == WireFault{WireFault::Kind::kCorrupt, 100, 3};
                    }},
        ControlCase{"Clear",
                    {"fault garbage on", "fault drop-to-host 5", "fault clear"},
                    true,
                    [](Programmer& p) { return p.GetFaults() == Faults{}; }},
        ControlCase{"UnknownFault", {"fault smoke on"}, false, Always},
        ControlCase{"BadNumber", {"fault stop-progress 12z"}, false, Always},
        ControlCase{"Unknown", {"dance"}, false, Always}, ControlCase{"Comment", {"# nothing"}, true, Always}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimControlFileTest, LoadsAndSavesChipAndMemory) {
  const auto dir = std::filesystem::temp_directory_path() / ("kovra_sim_control_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "in.bin").string();
  const std::string out = (dir / "out.bin").string();
  std::ofstream(in, std::ios::binary) << "ABCD";

  Programmer programmer;
  EXPECT_TRUE(RunControl(programmer, "load-chip " + in + " 0x10", 0).ok);
  EXPECT_EQ(programmer.GetChip().rom[0x11], 'B');
  EXPECT_TRUE(RunControl(programmer, "load-memory " + in + " 0x100", 0).ok);
  EXPECT_EQ(programmer.ReadMemory(0x100, 4), (std::vector<uint8_t>{'A', 'B', 'C', 'D'}));
  EXPECT_TRUE(RunControl(programmer, "save-memory " + out + " 0x101 0x102", 0).ok);
  std::ifstream saved(out, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), "BC");
  EXPECT_FALSE(RunControl(programmer, "load-chip " + (dir / "missing").string(), 0).ok);
  std::filesystem::remove_all(dir);
}

TEST(SimControlActionTest, PowerAndQuitAreForTheCaller) {
  Programmer programmer;
  const ControlReply later = RunControl(programmer, "unplug 250", 0);
  EXPECT_EQ(later.action, ControlReply::Action::kUnplug);
  EXPECT_EQ(later.delayUs, 250'000u);
  EXPECT_EQ(RunControl(programmer, "replug", 0).action, ControlReply::Action::kReplug);
  EXPECT_EQ(RunControl(programmer, "quit", 0).action, ControlReply::Action::kQuit);
  EXPECT_TRUE(programmer.Powered()) << "the caller does it";
}

#ifdef __linux__
// kovra-sim next to this test program's build folder: build/tests/.. /sim.
std::string SimPath() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (self.parent_path().parent_path() / "sim" / "kovra-sim").string();
}

TEST(SimPtySmokeTest, AnswersAConnectProbeOnItsPseudoTerminal) {
  const std::string sim = SimPath();
  if (!std::filesystem::exists(sim)) GTEST_SKIP() << "kovra-sim not built at " << sim;
  const auto dir = std::filesystem::temp_directory_path() / ("kovra_sim_pty_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string link = (dir / "com5").string();

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(sim.c_str(), sim.c_str(), "--link", link.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 500 && !std::filesystem::is_symlink(link); ++i) usleep(10'000);
  ASSERT_TRUE(std::filesystem::is_symlink(link));

  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const uint8_t probe[21] = {'S', 'T', 'A', 'R', 1, 0x25, 0, 0, 0, 0, 1, 0x41, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
  ASSERT_EQ(write(fd, probe, sizeof probe), 21);
  std::vector<uint8_t> answer;
  for (int i = 0; i < 50 && answer.size() < 21; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    uint8_t buffer[64];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) answer.insert(answer.end(), buffer, buffer + n);
  }
  close(fd);
  EXPECT_EQ(answer.size(), 21u);

  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "the link goes with it";
  std::filesystem::remove_all(dir);
}
#endif

}  // namespace
}  // namespace kovra::sim
