// SPDX-License-Identifier: MIT
// The Linux serial port on a pseudo-terminal, the vetting of a port named
// on the command line, the bridge's ports from a made-up sysfs tree, and the
// record file on a real file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "linux/device_port_map.h"
#include "linux/linux_serial_port.h"
#include "linux/posix_record_file.h"
#include "linux/sysfs_port_map.h"
#include "ops/production_record.h"

namespace kovra::linux_platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A scratch folder of the test's own, gone with it.
struct ScratchDir {
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "kovra_linux_XXXXXX").string();
    path = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~ScratchDir() {
    if (!path.empty()) fs::remove_all(path);
  }
  fs::path path;
};

// What the far side got, waiting at most a second for each part of it.
std::string ReadMaster(int master, size_t count) {
  std::string got;
  char buffer[64];
  while (got.size() < count) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) break;
    const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

void WriteMaster(int master, const std::string& bytes) {
  ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// What a read brought: short when it timed out, but never failed.
std::string Read(LinuxSerialPort& port, size_t count) {
  std::vector<uint8_t> buffer(count);
  const SerialTransfer got = port.Read(buffer.data(), count);
  EXPECT_FALSE(got.failed);
  return std::string(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(got.count));
}

TEST(LinuxPlatform, SerialPortOnAPseudoTerminal) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path.empty());
  const std::string plainFile = (scratch.path / "plain").string();
  std::ofstream(plainFile) << "not a port";

  EXPECT_EQ(SerialPortProblem((scratch.path / "missing").string()), "no such file");
  EXPECT_EQ(SerialPortProblem(plainFile), "not a character device");
  EXPECT_EQ(SerialPortProblem("/dev/null"), "not a serial port (not a tty)");
  LinuxSerialPort port;
  EXPECT_FALSE(port.Open(plainFile));
  EXPECT_FALSE(port.Open("/dev/null"));
  EXPECT_FALSE(port.IsOpen());

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  EXPECT_EQ(SerialPortProblem(slave), std::nullopt);
  // Opened before the port takes the tty for itself, to read its settings.
  const int observer = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(observer, 0);

  ASSERT_TRUE(port.Open(slave));
  EXPECT_EQ(SerialPortProblem(slave), "in use by another program");
  LinuxSerialPort second;
  EXPECT_FALSE(second.Open(slave));
  DevicePortMap map(slave);
  ASSERT_EQ(map.Scan().size(), 1u);
  EXPECT_TRUE(map.Listed(map.Scan()[0].device));

  ASSERT_TRUE(port.SetTimeouts(
      {.readInterval = 2, .readMultiplier = 2, .readConstant = 50, .writeMultiplier = 2, .writeConstant = 50}));
  const SerialSettings programmerLine{.baud = Baud::k38400,
                                      .parity = Parity::kSpace,
                                      .dataBits = DataBits::k8,
                                      .stopBits = StopBits::kOne,
                                      .parityCheck = true,
                                      .abortOnError = false};
  ASSERT_TRUE(port.Configure(programmerLine));
  // Again, as before every command: the pseudo-terminal holds all of it but
  // the parity bit, and may refuse a change that changes nothing.
  ASSERT_TRUE(port.Configure(programmerLine));
  termios line{};
  ASSERT_EQ(tcgetattr(observer, &line), 0);
  EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B38400));
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(line.c_cflag & CMSPAR, 0u);  // the pseudo-terminal drops PARENB
  EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF | ICRNL | PARMRK), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);

  // Bytes that are all there come whole; three of eight come after the
  // read's time-out.
  WriteMaster(master, "\x55\x0d\x00\xff\x11\x13"s);
  EXPECT_EQ(Read(port, 6), "\x55\x0d\x00\xff\x11\x13"s);
  WriteMaster(master, "abc");
  EXPECT_EQ(Read(port, 8), "abc");

  const std::string frame = "\x0a\x13\x11\x03\x7f"s;
  EXPECT_TRUE(port.ArmTransmitEmpty());
  EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()), SerialTransfer{frame.size()});
  EXPECT_EQ(ReadMaster(master, frame.size()), frame);
  EXPECT_TRUE(port.WaitTransmitEmpty(100));

  WriteMaster(master, "stale");
  pollfd arrived{observer, POLLIN, 0};
  ASSERT_EQ(poll(&arrived, 1, 1000), 1);
  EXPECT_TRUE(port.Purge());
  EXPECT_EQ(Read(port, 5), "");

  uint32_t status = 0x1234;
  EXPECT_FALSE(port.GetModemStatus(status));
  EXPECT_EQ(status, 0x1234u);

  // The far side goes, as an unplugged bridge does: even a read without
  // time-outs ends, and reads and writes fail, unlike a time-out; the port
  // leaves the map.
  ASSERT_TRUE(port.SetTimeouts({}));
  close(master);
  uint8_t buffer[4];
  EXPECT_EQ(port.Read(buffer, sizeof buffer), (SerialTransfer{.failed = true}));
  EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()), (SerialTransfer{.failed = true}));
  EXPECT_FALSE(map.Listed(slave));
  port.Close();
  close(observer);
}

// Listed by the socket's name when the tty has one: the package's kovra/
// link, else udev's by-path name.
TEST(LinuxPlatform, SysfsPortMapListsOnlyTheBridgesPorts) {
  struct Tty {
    const char* name;
    const char* driver;  // none: no device behind it
    std::vector<std::string> byPath;
    std::string kovra;  // "": no link of the package's rule
  };
  const std::string socket2 = "pci-0000:00:14.0-usb-0:2:1.0-port0";
  const std::string socket10 = "pci-0000:00:14.0-usb-0:10:1.0";
  const Tty ttys[] = {{"ttyUSB10", "pl2303", {"pci-0000:00:14.0-usbv2-0:2:1.0-port0", socket2}, ""},
                      {"ttyUSB2", "pl2303", {socket10 + "-port0"}, socket10},
                      {"ttyUSB3", "pl2303", {}, ""},
                      {"ttyUSB1", "ftdi_sio", {"pci-0000:00:14.0-usb-0:1:1.0-port0"}, ""},
                      {"ttyS0", nullptr, {}, ""}};

  ScratchDir scratch;
  ASSERT_FALSE(scratch.path.empty());
  const fs::path ttyClass = scratch.path / "class" / "tty";
  const fs::path dev = scratch.path / "dev";
  fs::create_directories(dev / "serial" / "by-path");
  fs::create_directories(dev / "kovra");
  for (const Tty& tty : ttys) {
    fs::create_directories(ttyClass / tty.name);
    std::ofstream(dev / tty.name) << "";
    for (const std::string& link : tty.byPath)
      fs::create_symlink("../../"s + tty.name, dev / "serial" / "by-path" / link);
    if (!tty.kovra.empty()) fs::create_symlink("../"s + tty.name, dev / "kovra" / tty.kovra);
    if (tty.driver == nullptr) continue;
    const fs::path driver = scratch.path / "drivers" / tty.driver;
    fs::create_directories(driver);
    fs::create_directories(ttyClass / tty.name / "device");
    fs::create_directory_symlink(driver, ttyClass / tty.name / "device" / "driver");
  }

  SysfsPortMap map(ttyClass, dev);
  const std::vector<BridgePort> ports = map.Scan();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].device, "ttyUSB2");
  EXPECT_EQ(ports[0].port, (dev / "kovra" / socket10).string());
  EXPECT_EQ(ports[1].device, "ttyUSB10");
  EXPECT_EQ(ports[1].port, (dev / "serial" / "by-path" / socket2).string());
  EXPECT_EQ(ports[2].device, "ttyUSB3");
  EXPECT_EQ(ports[2].port, (dev / "ttyUSB3").string());
  EXPECT_TRUE(map.Listed("ttyUSB2"));
  EXPECT_FALSE(map.Listed("ttyUSB1"));
  EXPECT_FALSE(map.Listed("../tty/ttyUSB2"));

  fs::remove_all(ttyClass / "ttyUSB2");
  EXPECT_FALSE(map.Listed("ttyUSB2"));
  ASSERT_EQ(map.Scan().size(), 2u);
  EXPECT_EQ(map.Scan()[0].device, "ttyUSB10");
}

using Records = std::vector<std::vector<std::string>>;

// The records of an RFC 4180 text, each ended by CRLF; nullopt when it is
// no such text.
std::optional<Records> ParseCsv(std::string_view text) {
  Records records(1);
  size_t i = 0;
  while (i < text.size()) {
    std::string field;
    const bool quoted = text[i] == '"';
    if (quoted) {
      for (++i; i < text.size() && (text[i] != '"' || text.substr(i, 2) == "\"\""); ++i) {
        if (text[i] == '"') ++i;
        field += text[i];
      }
      if (i++ == text.size()) return std::nullopt;
    }
    for (; i < text.size() && text[i] != ',' && text[i] != '\r'; ++i) {
      if (quoted || text[i] == '"' || text[i] == '\n') return std::nullopt;
      field += text[i];
    }
    records.back().push_back(field);
    if (text.substr(i, 1) == ",") {
      ++i;
    } else if (text.substr(i, 2) == "\r\n") {
      i += 2;
      records.emplace_back();
    } else {
      return std::nullopt;
    }
  }
  if (!records.back().empty()) return std::nullopt;
  records.pop_back();
  return records;
}

std::string Contents(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

// Whatever a failed write left at the end of the file, the next row is a
// whole row of its own and the file stays RFC 4180.
TEST(LinuxPlatform, RecordRowsStayWholeAfterATornRow) {
  const std::string row = FormatRecordRow({.utcMs = 1'796'672'712'000,
                                           .port = "/dev/ttyUSB3",
                                           .chip = "KV86C08",
                                           .codeFile = "firmware.hex",
                                           .fileChecksum = "5E21",
                                           .memoryChecksum = "5E21",
                                           .steps = "blank,program,verify,read-protect",
                                           .passed = false,
                                           .status = "芯片不空, 在地址: 00000",
                                           .elapsedMs = 1234,
                                           .failure = "not-blank",
                                           .address = "00000"});
  const std::string head(kRecordHeader);
  const struct Case {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file
    size_t records;                     // afterwards, the header included
  } kCases[] = {
      {"no file", std::nullopt, 2},
      {"empty", "", 2},
      {"whole rows", head + row, 3},
      {"torn in a plain field", head + row.substr(0, row.find("KV86") + 2), 3},
      {"torn in a quoted field", head + row.substr(0, row.find("blank,pro") + 9), 3},
      {"torn after an escaped quote", head + "x,\"a\"\"", 3},
      {"torn in its line end", head + row.substr(0, row.size() - 1), 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    ASSERT_FALSE(scratch.path.empty());
    const fs::path file = scratch.path / "record.csv";
    if (c.before) std::ofstream(file, std::ios::binary) << *c.before;
    PosixRecordFile records;

    ASSERT_TRUE(records.CanAppend(file.string()));
    EXPECT_EQ(Contents(file), c.before.value_or(""));
    ASSERT_TRUE(records.Append(file.string(), kRecordHeader, row));

    const std::string text = Contents(file);
    EXPECT_TRUE(text.starts_with(c.before.value_or(""))) << text;
    const auto parsed = ParseCsv(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    ASSERT_EQ(parsed->size(), c.records) << text;
    EXPECT_EQ(parsed->front(), ParseCsv(kRecordHeader)->front());
    EXPECT_EQ(parsed->back(), ParseCsv(row)->front());
  }

  ScratchDir scratch;
  const std::string nowhere = (scratch.path / "gone" / "record.csv").string();
  PosixRecordFile records;
  EXPECT_FALSE(records.CanAppend(nowhere));
  EXPECT_FALSE(records.Append(nowhere, kRecordHeader, row));
  EXPECT_FALSE(fs::exists(scratch.path / "gone"));
}

// After two replugs a name can lead to another socket's bridge: the named
// port is not listed then, and says why; a bridge the name leads to in its
// own socket is, whatever tty it became. /dev/null stands for the tty node:
// its device number leads through a made-up sysfs to the USB interface.
TEST(LinuxPlatform, NamedPortKeepsItsDevice) {
  ScratchDir scratch;
  ASSERT_FALSE(scratch.path.empty());
  struct stat node {};
  ASSERT_EQ(stat("/dev/null", &node), 0);
  const fs::path sys = scratch.path / "sys";
  const fs::path number =
      sys / "dev" / "char" / (std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev)));
  fs::create_directories(number.parent_path());
  const auto plug = [&](const std::string& interface, const std::string& tty) {
    const fs::path port = sys / "devices" / "usb1" / interface / tty;
    fs::create_directories(port / "tty" / tty);
    fs::remove(port / "tty" / tty / "device");
    fs::create_directory_symlink(port, port / "tty" / tty / "device");
    fs::remove(number);
    fs::create_directory_symlink(port / "tty" / tty, number);
  };

  plug("1-2/1-2:1.0", "ttyUSB0");
  DevicePortMap map("/dev/null", sys);
  EXPECT_TRUE(map.Listed("/dev/null"));
  EXPECT_EQ(map.Refusal(), "");
  plug("1-2/1-2:1.0", "ttyUSB3");
  EXPECT_TRUE(map.Listed("/dev/null"));
  plug("1-3/1-3:1.0", "ttyUSB0");
  EXPECT_FALSE(map.Listed("/dev/null"));
  EXPECT_EQ(map.Refusal(), "/dev/null now leads to another device (USB 1-3:1.0) than at first (USB 1-2:1.0): not used");
  plug("1-2/1-2:1.0", "ttyUSB0");
  EXPECT_TRUE(map.Listed("/dev/null"));
  EXPECT_EQ(map.Refusal(), "");
}

}  // namespace
}  // namespace kovra::linux_platform
