#include "transport/Comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/ErrorDisplay.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {

bool SetCustomSerialSpeed(int fd, int rate);

namespace {

speed_t SpeedConstant(int rate) {
  switch (rate) {
    case 50: return B50; case 75: return B75; case 110: return B110; case 134: return B134;
    case 150: return B150; case 200: return B200; case 300: return B300; case 600: return B600;
    case 1200: return B1200; case 1800: return B1800; case 2400: return B2400; case 4800: return B4800;
    case 9600: return B9600; case 19200: return B19200; case 38400: return B38400;
    case 57600: return B57600; case 115200: return B115200; case 230400: return B230400;
    case 460800: return B460800; case 921600: return B921600;
    default: return 0;
  }
}

// The platform's EV_ bits, as the event mask carries them.
constexpr unsigned EV_RXCHAR = 0x1, EV_TXEMPTY = 0x4, EV_CTS = 0x8, EV_DSR = 0x10, EV_RLSD = 0x20,
                   EV_RING = 0x100;

}  // namespace

ECommError::ECommError() : std::runtime_error(Sjis("通信が開始されていない。")) {}
ECommOpenError::ECommOpenError(int code)
    : ECommError(SafeFormat(Sjis("オープンエラー ErrorCode = %d").c_str(), code)), ErrorCode(code) {}
ECommReadWriteError::ECommReadWriteError(int code)
    : ECommError(SafeFormat(Sjis("入出力エラー ErrorCode = %d").c_str(), code)), ErrorCode(code) {}

TComm::TComm() = default;

TComm::~TComm() {
  Close();
  ReapWatch();
}

bool TComm::IsOpen() const {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  return fd_ >= 0;
}

std::string TComm::DevicePath() const {
  if (!DeviceName.empty()) return DeviceName;
  if (Port == 0) return std::string();
  return "/dev/ttyS" + std::to_string(Port - 1);
}

void TComm::ReapWatch() {
  // A watch thread that closed its own port has ended (or is ending) by
  // itself; whoever comes next from another thread joins it.
  if (watch_.joinable() && watch_.get_id() != std::this_thread::get_id()) watch_.join();
}

void TComm::Open() {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  if (fd_ >= 0) return;
  ReapWatch();
  const std::string path = DevicePath();
  int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !::isatty(fd))) {
    ::close(fd);  // in use by another opener, or not a terminal device
    fd = -1;
  }
  if (fd < 0) throw ECommOpenError(-1);
  ::ioctl(fd, TIOCEXCL);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(fd);
    throw ECommOpenError(-2);
  }
  fd_ = fd;
  hungUp_ = false;
  stop_ = false;
  ::tcflush(fd_, TCIOFLUSH);
  ApplySettings();
  // The lines as they are at open: every later change is an event.
  int bits = 0;
  const bool haveLines = QueryModemStatus(bits);
  watch_ = std::thread([this, haveLines, bits] { WatchLoop(haveLines, bits); });
  int dtr = TIOCM_DTR;
  ::ioctl(fd_, TIOCMBIS, &dtr);
}

void TComm::ApplySettings() {
  termios t;
  if (::tcgetattr(fd_, &t) != 0) return;  // results of the settings calls are ignored
  ::cfmakeraw(&t);
  t.c_cflag |= CREAD | CLOCAL | HUPCL;  // carrier is watched by us, not by the tty layer
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  // Data bits: Linux has no 4-bit mode; the narrowest is 5.
  static const tcflag_t kSizes[] = {CS5, CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[byteSize_];
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (parity_) {
    case cpbNone: break;
    case cpbOdd: t.c_cflag |= PARENB | PARODD; break;
    case cpbEven: t.c_cflag |= PARENB; break;
    case cpbMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case cpbSpace: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (parity_ != cpbNone) t.c_iflag |= INPCK;
  if (stopBits_ == csb1) t.c_cflag &= ~CSTOPB;
  else t.c_cflag |= CSTOPB;  // one and a half is not available: two
  if (flow_ & Bit(cfcRtsCts)) t.c_cflag |= CRTSCTS;
  else t.c_cflag &= ~CRTSCTS;
  if (flow_ & Bit(cfcXonXoff)) t.c_iflag |= IXON | IXOFF;
  else t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  const int rate = baudRate_ == -1 ? baudRateUserDefined_ : baudRate_;
  speed_t sp = SpeedConstant(rate);
  if (sp != 0) {
    ::cfsetispeed(&t, sp);
    ::cfsetospeed(&t, sp);
  }
  ::tcsetattr(fd_, TCSANOW, &t);
  if (sp == 0 && rate > 0) SetCustomSerialSpeed(fd_, rate);
  // RTS and DTR are held on whatever the handshake.
  int lines = TIOCM_RTS | TIOCM_DTR;
  ::ioctl(fd_, TIOCMBIS, &lines);
}

void TComm::SetBaudRate(int rate) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  baudRate_ = rate;
  if (fd_ >= 0) ApplySettings();
}
void TComm::SetParityBits(TCommParityBits p) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  parity_ = p;
  if (fd_ >= 0) ApplySettings();
}
void TComm::SetByteSize(TCommByteSize b) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  byteSize_ = b;
  if (fd_ >= 0) ApplySettings();
}
void TComm::SetStopBits(TCommStopBits s) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  stopBits_ = s;
  if (fd_ >= 0) ApplySettings();
}
void TComm::SetFlowControls(TCommFlowControls f) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  flow_ = f;
  if (fd_ >= 0) ApplySettings();
}

void TComm::Close() {
  std::thread toJoin;
  {
    std::lock_guard<std::recursive_mutex> lk(mutex_);
    if (fd_ < 0 || closing_) return;
    closing_ = true;
    stop_ = true;
    if (wake_[1] >= 0) {
      char c = 'x';
      const ssize_t r = ::write(wake_[1], &c, 1);  // a full pipe wakes the thread already
      (void)r;
    }
    if (watch_.joinable() && watch_.get_id() != std::this_thread::get_id()) toJoin = std::move(watch_);
  }
  // Joined outside the lock: the watch thread may be in a handler that itself
  // calls Close and must find the port already closing.
  if (toJoin.joinable()) toJoin.join();
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  int dtr = TIOCM_DTR;
  ::ioctl(fd_, TIOCMBIC, &dtr);  // a modem that follows DTR hangs up
  ::tcflush(fd_, TCIOFLUSH);
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
  ::close(wake_[0]);
  ::close(wake_[1]);
  wake_[0] = wake_[1] = -1;
  closing_ = false;
}

int TComm::Read(char* buf, int count) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  if (fd_ < 0 || closing_) throw ECommError();
  int done = 0;
  while (done < count) {
    ssize_t n = ::read(fd_, buf + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) return done;  // the announced bytes went away: end quietly
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (done == 0) {
      throw ECommReadWriteError(n < 0 ? errno : 0);
    } else {
      return done;
    }
  }
  return done;
}

bool TComm::QueryModemStatus(int& bits) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  if (fd_ < 0) return false;
  if (ModemStatusQuery) return ModemStatusQuery(fd_, bits);
  return ::ioctl(fd_, TIOCMGET, &bits) == 0;
}

bool TComm::DsrState() {
  int bits = 0;
  return QueryModemStatus(bits) && (bits & TIOCM_DSR) != 0;
}

int TComm::OutQueueBytes() {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  int n = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &n) != 0) return 0;
  return n;
}

int TComm::InQueueBytes() {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  int n = 0;
  if (fd_ < 0 || closing_ || ::ioctl(fd_, FIONREAD, &n) != 0) return 0;
  return n;
}

int TComm::Write(const char* buf, int count) {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  ssize_t n = ::write(fd_, buf, static_cast<size_t>(count));
  return static_cast<int>(n);
}

void TComm::Wake() {
  std::lock_guard<std::recursive_mutex> lk(mutex_);
  if (wake_[1] >= 0) {
    char c = 'r';
    const ssize_t r = ::write(wake_[1], &c, 1);  // a full pipe wakes the thread already
    (void)r;
  }
}

void TComm::DoCommReceive() {
  if (!IsOpen() || !OnCommReceive) return;
  int n = 0;
  {
    std::lock_guard<std::recursive_mutex> lk(mutex_);
    if (fd_ >= 0) ::ioctl(fd_, FIONREAD, &n);
  }
  if (n > 0) OnCommReceive(this, static_cast<uint16_t>(n > 0xFFFF ? 0xFFFF : n));
}

void TComm::DoCommTransmit() {
  if (!IsOpen() || !OnCommTransmit) return;
  OnCommTransmit(this, static_cast<uint16_t>(OutQueueBytes()));
}

void TComm::DoCommEvent(TCommEventMask events) {
  if (!IsOpen() || !OnCommEvent) return;
  // Only these reach the owner; evRxchar, evTxempty and evPerr never do.
  const TCommEventMask kDelivered = Bit(evRxflag) | Bit(evCts) | Bit(evDsr) | Bit(evRlsd) | Bit(evBreak) |
                                    Bit(evErr) | Bit(evRing);
  OnCommEvent(this, events & kDelivered);
}

void TComm::WatchLoop(bool haveLines, int lastBits) {
  watchId_ = std::this_thread::get_id();
  int fd, wakeFd;
  {
    std::lock_guard<std::recursive_mutex> lk(mutex_);
    fd = fd_;
    wakeFd = wake_[0];
  }
  int lastOutQ = 0;
  bool hupReported = false;
  while (!stop_) {
    const TCommEventMask mask = eventMask_.load() | EV_RXCHAR;  // received characters always count
    const bool paused = ReceivePaused && ReceivePaused();
    pollfd p[2] = {{wakeFd, POLLIN, 0}, {fd, static_cast<short>(paused ? 0 : POLLIN), 0}};
    const bool sample = (haveLines && (mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING))) || (mask & EV_TXEMPTY);
    int nfds = hupReported ? 1 : 2;
    // Paused, the resume is also looked for on a tick: a wake-up lost on
    // its way costs a tick, never the session.
    int r = ::poll(p, static_cast<nfds_t>(nfds), sample || paused ? 100 : -1);
    if (stop_) break;
    if (r < 0 && errno != EINTR) break;
    if ((p[0].revents & POLLIN) || (paused && r == 0)) {
      char buf[64];
      while (::read(wakeFd, buf, sizeof buf) > 0) {
      }
      if (stop_) break;
      if (OnResume) {
        try {
          OnResume();
        } catch (const std::exception& e) {
          ShowApplicationError(e.what());
        }
      }
    }
    unsigned events = 0;
    if (nfds == 2 && (p[1].revents & POLLIN) && !paused) {
      int n = 0;
      ::ioctl(fd, FIONREAD, &n);
      if (n > 0) events |= EV_RXCHAR;
    }
    if (nfds == 2 && (p[1].revents & (POLLHUP | POLLERR)) && !(events & EV_RXCHAR)) {
      // The other side is gone: the carrier has dropped.
      hungUp_ = true;
      hupReported = true;
      events |= EV_RLSD;
    }
    if (sample) {
      int bits = 0;
      if (haveLines && QueryModemStatus(bits)) {
        const int changed = bits ^ lastBits;
        if (changed & TIOCM_CTS) events |= EV_CTS;
        if (changed & TIOCM_DSR) events |= EV_DSR;
        if (changed & TIOCM_CD) events |= EV_RLSD;
        if ((changed & TIOCM_RI) && !(bits & TIOCM_RI)) events |= EV_RING;
        // Received characters take precedence over the lines' changes in one
        // wake-up; the changes stay pending for the next one, so that a
        // carrier lost while data arrives is still seen.
        if (!(events & EV_RXCHAR)) lastBits = bits;
      }
      if (mask & EV_TXEMPTY) {
        int q = OutQueueBytes();
        if (q == 0 && lastOutQ > 0) events |= EV_TXEMPTY;
        lastOutQ = q;
      }
    }
    events &= mask;
    if (events == 0) continue;
    try {
      // Receive takes precedence: what else this wake-up saw is not delivered.
      if (events & EV_RXCHAR) DoCommReceive();
      else if (events & EV_TXEMPTY) DoCommTransmit();
      else DoCommEvent(events);
    } catch (const std::exception& e) {
      ShowApplicationError(e.what());
    }
  }
}

}  // namespace brelo
