// SPDX-License-Identifier: MIT
// kovra-sim: the simulated programmer in real time on a pseudo-terminal, for
// the Windows program under Wine (or anything else that opens a tty).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sim/control.h"
#include "sim/programmer.h"

namespace {

using kovra::sim::ControlReply;
using kovra::sim::Programmer;

constexpr const char* kSerialPortMap = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

const char kUsage[] =
    "usage: kovra-sim [options]\n"
    "  --link PATH             symlink the pseudo-terminal here (e.g. $WINEPREFIX/dosdevices/com5)\n"
    "  --wine-prefix DIR       register the port in this Wine prefix's serial port map;\n"
    "  --com N                 ... as COMN (required with --wine-prefix)\n"
    "  --bridge-number M       ... under \\Device\\ProlificSerialM (default 0)\n"
    "  --wine PROGRAM          the wine to run for that (default: wine)\n"
    "  --control PATH          FIFO (made if missing) or '-' for stdin: one command a line; 'help' lists them\n"
    "  --log PATH              append a hex log of every frame, stream and answer\n"
    "  --timing fast|real      fast (default): no wire time, quick work; real: 38400 baud and real work times\n"
    "  --chip otp|mtp          the chip in the socket (default mtp, as the host starts with)\n"
    "  --rom-size N            its ROM size in bytes (default 0x8000)\n"
    "  --chip-file PATH        its contents, raw\n"
    "Stops on SIGINT or SIGTERM (or 'quit') and removes what it registered.\n"
    "DSR cannot be shown on a pseudo-terminal (Wine reads it as off); the fast timing\n"
    "keeps every busy time shorter than the host's own pauses instead.\n";

struct Options {
  std::string link;
  std::string winePrefix;
  int com = 0;
  int bridgeNumber = 0;
  std::string wine = "wine";
  std::string control;
  std::string log;
  bool realTiming = false;
  bool mtp = true;
  uint32_t romSize = 0x8000;
  std::string chipFile;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) return std::nullopt;
    const std::string value = argv[++i];
    char* end = nullptr;
    const unsigned long number = std::strtoul(value.c_str(), &end, 0);
    const bool isNumber = !value.empty() && *end == '\0';
    if (arg == "--link") {
      o.link = value;
    } else if (arg == "--wine-prefix") {
      o.winePrefix = value;
    } else if (arg == "--com" && isNumber && number >= 1 && number <= 256) {
      o.com = static_cast<int>(number);
    } else if (arg == "--bridge-number" && isNumber && number <= 255) {
      o.bridgeNumber = static_cast<int>(number);
    } else if (arg == "--wine") {
      o.wine = value;
    } else if (arg == "--control") {
      o.control = value;
    } else if (arg == "--log") {
      o.log = value;
    } else if (arg == "--timing" && (value == "fast" || value == "real")) {
      o.realTiming = value == "real";
    } else if (arg == "--chip" && (value == "otp" || value == "mtp")) {
      o.mtp = value == "mtp";
    } else if (arg == "--rom-size" && isNumber && number >= 1 && number <= Programmer::kMemorySize) {
      o.romSize = static_cast<uint32_t>(number);
    } else if (arg == "--chip-file") {
      o.chipFile = value;
    } else {
      return std::nullopt;
    }
  }
  if (!o.winePrefix.empty() && o.com == 0) return std::nullopt;
  return o;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
}

uint64_t NowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

// In a child: the prefix, quiet Wine, output to /dev/null, then `wine args`.
[[noreturn]] void ExecWine(const Options& o, std::vector<std::string> args) {
  setenv("WINEPREFIX", o.winePrefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(o.wine.c_str()));
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// Runs `wine args` in the prefix and waits for it.
bool RunWine(const Options& o, std::vector<std::string> args) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) ExecWine(o, std::move(args));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void CloseOnExec(int fd) {
  if (fd >= 0) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

std::string ValueName(const Options& o) { return "\\Device\\ProlificSerial" + std::to_string(o.bridgeNumber); }

class Simulator {
 public:
  Simulator(const Options& options)
      : o_(options),
        programmer_(options.realTiming ? kovra::sim::Timing::RealOnPseudoTerminal() : kovra::sim::Timing::Fast()) {
    programmer_.KeepLog(false);
  }

  ~Simulator() {
    Unplug();
    StopKeeper();
    if (log_ != nullptr) std::fclose(log_);
    if (controlWriter_ >= 0) close(controlWriter_);
    if (control_ >= 0 && control_ != STDIN_FILENO) close(control_);
    if (madeFifo_) unlink(o_.control.c_str());
  }

  bool Start() {
    kovra::sim::Chip chip =
        kovra::sim::Chip::Blank(o_.mtp ? kovra::sim::ChipType::kMtp : kovra::sim::ChipType::kOtp, o_.romSize);
    if (!o_.chipFile.empty()) {
      std::ifstream file(o_.chipFile, std::ios::binary);
      if (!file) return Fail("cannot read " + o_.chipFile);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      for (size_t i = 0; i < bytes.size() && i < chip.rom.size(); ++i) chip.rom[i] = static_cast<uint8_t>(bytes[i]);
    }
    programmer_.SetChip(chip);
    if (!o_.log.empty()) {
      log_ = std::fopen(o_.log.c_str(), "ae");
      if (log_ == nullptr) return Fail("cannot open " + o_.log);
      programmer_.SetLogSink([this](const kovra::sim::LogEntry& entry) {
        std::fputs(kovra::sim::FormatLogEntry(entry).c_str(), log_);
        std::fflush(log_);
      });
    }
    if (!o_.control.empty() && !OpenControl()) return false;
    if (!Plug()) return false;
    std::printf("kovra-sim: ready\n");
    std::fflush(stdout);
    return true;
  }

  // False when it stopped on a failure rather than on a signal or quit.
  bool Run() {
    std::vector<uint8_t> pending;
    while (!quit_) {
      uint64_t now = NowUs();
      if (unplugAt_ && now >= *unplugAt_) {
        unplugAt_.reset();
        Unplug();
      }
      if (replugAt_ && now >= *replugAt_) {
        replugAt_.reset();
        if (!Plug()) return false;
      }
      if (master_ >= 0) {
        uint8_t buffer[4096];
        size_t n = 0;
        while ((n = programmer_.ReadOutput(buffer, sizeof buffer, now)) > 0)
          pending.insert(pending.end(), buffer, buffer + n);
        Flush(pending);
      } else {
        pending.clear();
      }

      uint64_t wake = UINT64_MAX;
      if (master_ >= 0) wake = programmer_.NextWakeUs().value_or(UINT64_MAX);
      for (const auto& at : {unplugAt_, replugAt_})
        if (at) wake = std::min(wake, *at);
      // To the microsecond: waits rounded up to whole milliseconds sent the
      // bytes in bursts a millisecond apart, and a burst a little late
      // then overran the host's 2 ms gap between bytes of one answer.
      uint64_t timeoutUs = 1'000'000;
      if (wake != UINT64_MAX) timeoutUs = wake <= now ? 0 : std::min<uint64_t>(wake - now, 1'000'000);
      const timespec timeout{static_cast<time_t>(timeoutUs / 1'000'000),
                             static_cast<long>(timeoutUs % 1'000'000 * 1000)};

      pollfd fds[3] = {{signalPipe[0], POLLIN, 0}, {control_, POLLIN, 0}, {master_, POLLIN, 0}};
      if (!pending.empty()) fds[2].events |= POLLOUT;
      if (ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR) return Fail("cannot wait for the line");
      if (fds[0].revents != 0) quit_ = true;
      if (control_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) ReadControl();
      if (master_ >= 0 && (fds[2].revents & POLLIN) != 0) {
        uint8_t buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) programmer_.HostWrite(buffer, static_cast<size_t>(n), NowUs());
      }
    }
    return true;
  }

 private:
  bool Fail(const std::string& text) {
    std::fprintf(stderr, "kovra-sim: %s\n", text.c_str());
    return false;
  }

  bool OpenControl() {
    if (o_.control == "-") {
      control_ = STDIN_FILENO;
      return true;
    }
    struct stat info {};
    if (stat(o_.control.c_str(), &info) != 0) {
      if (mkfifo(o_.control.c_str(), 0600) != 0) return Fail("cannot make the FIFO " + o_.control);
      madeFifo_ = true;
    } else if (!S_ISFIFO(info.st_mode)) {
      return Fail(o_.control + " is not a FIFO");
    }
    control_ = open(o_.control.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // Held open so that the FIFO never reads as ended between writers.
    controlWriter_ = open(o_.control.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    return control_ >= 0 || Fail("cannot open " + o_.control);
  }

  void ReadControl() {
    char buffer[1024];
    const ssize_t n = read(control_, buffer, sizeof buffer);
    if (n <= 0) {
      if (n == 0 && control_ == STDIN_FILENO) control_ = -1;  // stdin ended: no more commands
      return;
    }
    controlText_.append(buffer, static_cast<size_t>(n));
    size_t end = 0;
    while ((end = controlText_.find('\n')) != std::string::npos) {
      const std::string line = controlText_.substr(0, end);
      controlText_.erase(0, end + 1);
      const ControlReply reply = kovra::sim::RunControl(programmer_, line, NowUs());
      std::fputs(reply.text.c_str(), reply.ok ? stdout : stderr);
      std::fflush(stdout);
      const uint64_t at = NowUs() + reply.delayUs;
      switch (reply.action) {
        case ControlReply::Action::kUnplug:
          unplugAt_ = at;
          break;
        case ControlReply::Action::kReplug:
          replugAt_ = at;
          break;
        case ControlReply::Action::kQuit:
          quit_ = true;
          break;
        case ControlReply::Action::kNone:
          break;
      }
    }
  }

  // A new pseudo-terminal each time, as a replugged bridge is a new device.
  bool Plug() {
    if (master_ >= 0) return true;
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return Fail("no pseudo-terminal");
    CloseOnExec(master_);  // Wine children must not keep the line up after an unplug
    const char* name = ptsname(master_);
    if (name == nullptr) return Fail("no pseudo-terminal name");
    slaveName_ = name;
    // Our own handle on the far side keeps the line up while nobody has it
    // open, and makes it raw before anybody does.
    slave_ = open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return Fail("cannot open " + slaveName_);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    std::printf("kovra-sim: pty %s\n", slaveName_.c_str());

    if (!o_.link.empty()) {
      struct stat info {};
      if (lstat(o_.link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) return Fail(o_.link + " exists and is not a symbolic link");
        unlink(o_.link.c_str());
      }
      if (symlink(slaveName_.c_str(), o_.link.c_str()) != 0) return Fail("cannot link " + o_.link);
      linked_ = true;
    }
    if (!o_.winePrefix.empty()) {
      if (!Register()) return Fail("cannot add " + ValueName(o_) + " to the prefix's serial port map");
      registered_ = true;
      std::printf("kovra-sim: registered %s = COM%d\n", ValueName(o_).c_str(), o_.com);
    }
    programmer_.PowerOn(NowUs());
    std::fflush(stdout);
    return true;
  }

  // The prefix's services drop values added to the serial port map when
  // they start again, and they stop a few seconds after the last Wine
  // program in the prefix ends. So a Wine program is kept running for as
  // long as the port is registered, and the value is checked a moment after
  // it was added.
  bool Register() {
    if (keeper_ < 0) StartKeeper();
    const std::vector<std::string> add = {
        "reg", "add", kSerialPortMap, "/v", ValueName(o_), "/t", "REG_SZ", "/d", "COM" + std::to_string(o_.com), "/f"};
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (!RunWine(o_, add)) continue;
      sleep(2);
      if (RunWine(o_, {"reg", "query", kSerialPortMap, "/v", ValueName(o_)})) return true;
    }
    return false;
  }

  // `wine cmd` reading from a pipe that only this program writes to: it
  // ends when the pipe is closed.
  void StartKeeper() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    keeper_ = fork();
    if (keeper_ == 0) {
      setpgid(0, 0);  // a Ctrl-C at the terminal is for kovra-sim to handle
      dup2(fds[0], STDIN_FILENO);
      ExecWine(o_, {"cmd"});
    }
    close(fds[0]);
    keeperInput_ = fds[1];
  }

  void StopKeeper() {
    if (keeper_ <= 0) return;
    close(keeperInput_);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(keeper_, nullptr, WNOHANG) != 0) return;
      usleep(100'000);
    }
    kill(keeper_, SIGTERM);
    waitpid(keeper_, nullptr, 0);
  }

  void Unplug() {
    if (master_ < 0) return;
    programmer_.PowerOff(NowUs());
    if (registered_) RunWine(o_, {"reg", "delete", kSerialPortMap, "/v", ValueName(o_), "/f"});
    registered_ = false;
    if (linked_) unlink(o_.link.c_str());
    linked_ = false;
    close(slave_);
    close(master_);
    slave_ = master_ = -1;
    std::printf("kovra-sim: unplugged\n");
    std::fflush(stdout);
  }

  void Flush(std::vector<uint8_t>& pending) {
    if (pending.empty()) return;
    const ssize_t n = write(master_, pending.data(), pending.size());
    if (n > 0) pending.erase(pending.begin(), pending.begin() + n);
  }

  const Options o_;
  Programmer programmer_;
  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  bool linked_ = false;
  bool registered_ = false;
  pid_t keeper_ = -1;
  int keeperInput_ = -1;
  int control_ = -1;
  int controlWriter_ = -1;
  bool madeFifo_ = false;
  std::string controlText_;
  FILE* log_ = nullptr;
  bool quit_ = false;
  std::optional<uint64_t> unplugAt_;
  std::optional<uint64_t> replugAt_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (pipe(signalPipe) != 0) return 1;
  CloseOnExec(signalPipe[0]);
  CloseOnExec(signalPipe[1]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  NowUs();
  Simulator simulator(*options);
  if (!simulator.Start()) return 1;
  return simulator.Run() ? 0 : 1;
}
