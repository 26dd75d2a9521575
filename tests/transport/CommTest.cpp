// The serial port on a pseudo-terminal: the test plays the modem.
#include "transport/Comm.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "common/Sjis.h"
#include "support/Pty.h"
#include "support/Wait.h"
#include "transport/ZenuComm.h"

namespace brelo {
namespace {

using test::TPty;
using test::WaitUntil;

TEST(CommPort, DefaultsAndDevicePaths) {
  TComm c;
  EXPECT_EQ(c.Port, 1);
  EXPECT_EQ(c.BaudRate(), 9600);
  EXPECT_EQ(c.ByteSize(), cbs8);
  EXPECT_EQ(c.ParityBits(), cpbNone);
  EXPECT_EQ(c.StopBits(), csb1);
  EXPECT_EQ(c.FlowControls(), Bit(cfcRtsCts));
  EXPECT_EQ(c.InQueueSize, 4096);
  EXPECT_EQ(c.XoffLimit(), 1024);
  EXPECT_EQ(c.XonLimit(), 1024);
  EXPECT_EQ(c.DevicePath(), "/dev/ttyS0");
  c.Port = 3;
  EXPECT_EQ(c.DevicePath(), "/dev/ttyS2");
  c.DeviceName = "/dev/ttyUSB0";
  EXPECT_EQ(c.DevicePath(), "/dev/ttyUSB0");
  TZENUCOMM z;
  EXPECT_EQ(z.Protocol, pr_ZMODEM);
  EXPECT_STREQ(ProtTypeName(pr_XMODEM_CRC_1024), "XMODEM [CRC] 1024byte");
  EXPECT_STREQ(ProtTypeName(pr_MLINK), "M-LINK");
  EXPECT_FALSE(z.CarrierDetected());  // closed: false, no device touched
}

TEST(CommPort, MissingDeviceAndClosedPortRaiseTheirTexts) {
  TComm c;
  c.DeviceName = "/nonexistent/ttyX";
  try {
    c.Open();
    FAIL();
  } catch (const ECommOpenError& e) {
    EXPECT_EQ(e.ErrorCode, -1);
    EXPECT_EQ(SjisToUtf8(e.what()), "オープンエラー ErrorCode = -1");
  }
  EXPECT_FALSE(c.IsOpen());
  c.DeviceName.clear();
  c.Port = 0;
  EXPECT_THROW(c.Open(), ECommOpenError);
  char buf[4];
  try {
    c.Read(buf, 4);
    FAIL();
  } catch (const ECommError& e) {
    EXPECT_EQ(SjisToUtf8(e.what()), "通信が開始されていない。");
  }
  EXPECT_FALSE(c.DsrState());
}

TEST(CommPort, SettingsReachTheTerminal) {
  TPty pty;
  TComm c;
  c.DeviceName = pty.SlavePath();
  c.SetByteSize(cbs7);
  c.SetParityBits(cpbEven);
  c.Open();
  c.SetBaudRate(19200);  // at once while open
  c.SetStopBits(csb2);
  c.SetFlowControls(Bit(cfcXonXoff));
  int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t;
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  // A pseudo-terminal always keeps 8 data bits and no parity: those two
  // settings can only be seen on a real device.
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  ::close(fd);
  // Open on an open port changes nothing.
  c.SetBaudRateUserDefined(4800);  // no effect until BaudRate is applied again
  c.Open();
  fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ::tcgetattr(fd, &t);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));
  c.SetBaudRate(-1);
  ::tcgetattr(fd, &t);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B4800));
  ::close(fd);
  c.Close();
  EXPECT_FALSE(c.IsOpen());
}

TEST(CommPort, InUseByAnotherOpener) {
  TPty pty;
  TComm a, b;
  a.DeviceName = b.DeviceName = pty.SlavePath();
  a.Open();
  try {
    b.Open();
    FAIL();
  } catch (const ECommOpenError& e) {
    EXPECT_EQ(e.ErrorCode, -1);
  }
  a.Close();
  b.Open();  // free again
}

TEST(CommPort, ReceivedBytesAreAnnouncedWholeAndReadExactly) {
  TPty pty;
  TComm c;
  c.DeviceName = pty.SlavePath();
  std::mutex m;
  std::vector<int> sizes;
  std::string got;
  c.OnCommReceive = [&](TComm* port, uint16_t size) {
    std::string buf(size, '\0');
    port->Read(buf.data(), size);
    std::lock_guard<std::mutex> lk(m);
    sizes.push_back(size);
    got += buf;
  };
  c.Open();
  const std::string burst(300, 'x');
  pty.Write(burst);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lk(m);
    return got.size() == 300;
  }));
  std::lock_guard<std::mutex> lk(m);
  for (int s : sizes) EXPECT_GT(s, 0);  // never a zero count
  EXPECT_LE(sizes.size(), 3u);
  EXPECT_EQ(got, burst);
}

TEST(CommPort, WritesReachTheModem) {
  TPty pty;
  TComm c;
  c.DeviceName = pty.SlavePath();
  c.Open();
  EXPECT_EQ(c.Write("ATZ\r", 4), 4);
  EXPECT_EQ(pty.Read(4), "ATZ\r");
  EXPECT_EQ(c.OutQueueBytes(), 0);
}

TEST(ModemPort, CarrierLossIsReportedAndTheHandlerMayCloseThePort) {
  TPty pty;
  TZENUCOMM z;
  std::atomic<int> lines{TIOCM_CD | TIOCM_DSR};
  z.ModemStatusQuery = [&](int, int& bits) {
    bits = lines.load();
    return true;
  };
  z.DeviceName = pty.SlavePath();
  z.SetEventMask(Bit(evRlsd));
  std::atomic<int> events{0};
  std::atomic<bool> closed{false};
  z.OnCommEvent = [&](TComm* port, TCommEventMask e) {
    if ((e & Bit(evRlsd)) && !static_cast<TZENUCOMM*>(port)->CarrierDetected()) {
      ++events;
      port->Close();  // on the watch thread: must not wait for itself
      closed = true;
    }
  };
  z.Open();
  EXPECT_TRUE(z.CarrierDetected());
  EXPECT_TRUE(z.DsrState());
  lines = TIOCM_DSR;  // the carrier drops
  ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
  EXPECT_EQ(events.load(), 1);
  EXPECT_FALSE(z.IsOpen());
  EXPECT_FALSE(z.CarrierDetected());
  // A user's close at the same moment finds the port closed already.
  z.Close();
  z.Open();  // the ended watch thread is joined; the port opens again
  EXPECT_TRUE(z.IsOpen());
}

TEST(ModemPort, HangUpOfTheOtherSideCountsAsCarrierDrop) {
  auto pty = std::make_unique<TPty>();
  TZENUCOMM z;
  z.DeviceName = pty->SlavePath();
  z.SetEventMask(Bit(evRlsd));
  std::atomic<int> drops{0};
  z.OnCommEvent = [&](TComm* port, TCommEventMask e) {
    if ((e & Bit(evRlsd)) && !static_cast<TZENUCOMM*>(port)->CarrierDetected()) ++drops;
  };
  z.Open();
  EXPECT_TRUE(z.CarrierDetected());  // a pseudo-terminal has no modem lines
  pty->CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return drops.load() == 1; }));
  test::ProcessEventsFor(150);
  EXPECT_EQ(drops.load(), 1);  // reported once
  z.Close();
}

}  // namespace
}  // namespace brelo
