#include "Connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "common/Sjis.h"

namespace demohost {

ReceiveLog::ReceiveLog(const std::string& path) {
  if (!path.empty()) f_ = std::fopen(path.c_str(), "ab");
}

ReceiveLog::~ReceiveLog() {
  if (f_) std::fclose(f_);
}

void ReceiveLog::Add(int caller, const char* data, size_t n) {
  if (!f_) return;
  std::lock_guard<std::mutex> lk(m_);
  std::fprintf(f_, "[%d] ", caller);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7F && c != '%') std::fputc(c, f_);
    else std::fprintf(f_, "%%%02X", c);
  }
  std::fputc('\n', f_);
  std::fflush(f_);
}

Connection::Connection(int fd, int caller, const Faults& faults, ReceiveLog* log, LineKind kind, int outFd)
    : fd_(fd),
      outFd_(outFd),
      kind_(kind),
      caller_(caller),
      faults_(faults),
      log_(log),
      isSocket_(kind == LineKind::kTelnet) {
  decoder_.SetEncoding(faults.encoding);
  if (kind == LineKind::kStdio && ::isatty(fd) && ::tcgetattr(fd, &cooked_) == 0) {
    // A program behind a telnet server reads whole lines from the
    // terminal's line discipline, as login does: a CR or LF ends a line
    // (a line end in each: CR LF is two). It echoes and ends its own lines
    // itself.
    terminal_ = true;
    cooked_.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    // Unless told otherwise, its CR LF reaches the server as they are; with
    // the terminal's output processing on, the terminal adds a CR before
    // each LF and the server sends the lone CR as CR NUL.
    if (!faults.ttyOutput) cooked_.c_oflag &= static_cast<tcflag_t>(~OPOST);
    ::tcsetattr(fd, TCSANOW, &cooked_);
  }
}

void Connection::RawTerminal(bool raw) {
  if (!terminal_ || fd_ < 0) return;
  termios t = cooked_;
  if (raw) ::cfmakeraw(&t);
  ::tcsetattr(fd_, TCSADRAIN, &t);
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  std::lock_guard<std::mutex> lk(writeMutex_);
  if (fd_ >= 0) {
    if (isSocket_) ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
  }
  if (outFd_ >= 0) ::close(outFd_);
  fd_ = outFd_ = -1;
  gone_ = true;
}

void Connection::HangUp() {
  std::lock_guard<std::mutex> lk(writeMutex_);
  if (fd_ >= 0 && isSocket_) {
    if (faults_.dropBy == Faults::kReset) {
      // Every byte written reaches the caller first (a busy caller may not
      // have room for it yet): the reset cuts the line, not what was said.
      int queued = 0;
      for (int waited = 0; waited < 5000 && ::ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued > 0; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      linger l{1, 0};  // closing with a zero linger sends a reset
      ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else {
      // What the caller sent and nobody read would turn the close into a
      // reset: read it away first.
      char buf[4096];
      while (::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
      }
      ::shutdown(fd_, SHUT_WR);
    }
  }
  if (fd_ >= 0) ::close(fd_);
  if (outFd_ >= 0) ::close(outFd_);
  fd_ = outFd_ = -1;
  gone_ = true;
}

bool Connection::RawWrite(const char* p, size_t n) {
  while (n > 0) {
    if (fd_ < 0) return false;
    const int out = outFd_ >= 0 ? outFd_ : fd_;
    ssize_t w = isSocket_ ? ::send(out, p, n, MSG_NOSIGNAL) : ::write(out, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd pf{out, POLLOUT, 0};
        ::poll(&pf, 1, 100);
        continue;
      }
      gone_ = true;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Each line (and a prompt, which ends no line) in a colour of its own, as
// today's hosts paint their screens: bold colours, a reset before the line's
// end, and now and then the cursor moved and the line cleared.
std::string Connection::Paint(const std::string& bytes, int& colour) {
  std::string out;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    const bool line = end != std::string::npos;
    if (!line) end = bytes.size();
    if (end > start) {
      colour = colour % 7 + 1;
      out += "\x1b[1;3" + std::to_string(colour) + "m";
      if (colour == 4) out += "\x1b[2K\x1b(B";
      out.append(bytes, start, end - start);
      out += "\x1b[0m";
    }
    if (!line) break;
    out += "\r\n";
    start = end + 2;
  }
  return out;
}

bool Connection::Write(const std::string& bytes) {
  std::lock_guard<std::mutex> lk(writeMutex_);
  if (gone_ || faults_.silent) return !gone_;
  std::string out = bytes;
  if (counting_ && faults_.dropAfter >= 0) {
    if (counted_ + static_cast<long>(out.size()) > faults_.dropAfter) {
      // The line drops in the middle of what the host was saying.
      out.resize(static_cast<size_t>(faults_.dropAfter - counted_));
      RawWrite(out.data(), out.size());
      if (isSocket_) ::shutdown(fd_, SHUT_RDWR);
      ::close(fd_);
      fd_ = -1;
      gone_ = true;
      return false;
    }
    counted_ += static_cast<long>(out.size());
  }
  // Telnet commands are written alone and go out as they are.
  if (faults_.encoding != brelo::EHostEncoding::kShiftJis && !out.empty() && static_cast<unsigned char>(out[0]) != 0xFF) {
    out = brelo::EncodeForHost(faults_.encoding, out);
  }
  if (faults_.ansi) out = Paint(out, colour_);
  switch (faults_.chunking) {
    case Faults::kBurst:
      return RawWrite(out.data(), out.size());
    case Faults::kTrickle:
      for (size_t i = 0; i < out.size(); i += 3) {
        if (!RawWrite(out.data() + i, std::min<size_t>(3, out.size() - i))) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
      return true;
    case Faults::kSplit: {
      // Cut between CR and LF and inside every double-byte character.
      size_t start = 0;
      for (size_t i = 0; i + 1 < out.size(); ++i) {
        const bool crlf = out[i] == '\r' && out[i + 1] == '\n';
        const bool lead = brelo::IsDBCSLeadByte(static_cast<unsigned char>(out[i]));
        if (!crlf && !lead) continue;
        if (!RawWrite(out.data() + start, i + 1 - start)) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        start = i + 1;
        if (lead) ++i;  // the trail byte goes with the next write
      }
      return RawWrite(out.data() + start, out.size() - start);
    }
  }
  return true;
}

bool Connection::WriteRaw(const std::string& bytes) {
  std::lock_guard<std::mutex> lk(writeMutex_);
  return !gone_ && RawWrite(bytes.data(), bytes.size());
}

long Connection::ReadRaw(char* buf, size_t n, int timeoutMs) {
  if (inpos_ < inbuf_.size()) {  // what the line reader had already taken in
    const size_t k = std::min(n, inbuf_.size() - inpos_);
    std::memcpy(buf, inbuf_.data() + inpos_, k);
    inpos_ += k;
    return static_cast<long>(k);
  }
  if (gone_ || fd_ < 0) return -1;
  pollfd p{fd_, POLLIN, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  if (r <= 0) return r < 0 && errno != EINTR ? -1 : 0;
  const ssize_t got = ::read(fd_, buf, n);
  if (got <= 0) {
    gone_ = true;
    return -1;
  }
  return static_cast<long>(got);
}

void Connection::Unread(const std::string& bytes) {
  const std::string rest = inbuf_.substr(inpos_);
  inbuf_.clear();
  inpos_ = 0;
  DecodeInput(bytes.data(), bytes.size());
  inbuf_ += rest;
}

void Connection::DecodeInput(const char* p, size_t n) {
  if (faults_.encoding == brelo::EHostEncoding::kShiftJis) {
    inbuf_.append(p, n);
    return;
  }
  size_t run = 0;  // start of the text not yet converted
  for (size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    switch (telnet_) {
      case 0:
        if (c != 0xFF) continue;
        decoder_.Decode(p + run, i - run, inbuf_);
        telnet_ = 1;
        break;
      case 1: telnet_ = c == 0xFA ? 3 : (c >= 0xFB && c <= 0xFE) ? 2 : 0; break;
      case 2: telnet_ = 0; break;
      case 3: if (c == 0xFF) telnet_ = 4; break;
      default: telnet_ = c == 0xF0 ? 0 : 3; break;
    }
    inbuf_ += static_cast<char>(c);
    run = i + 1;
  }
  decoder_.Decode(p + run, n - run, inbuf_);
}

int Connection::ReadByte(int timeoutMs) {
  if (inpos_ < inbuf_.size()) return static_cast<unsigned char>(inbuf_[inpos_++]);
  if (gone_ || fd_ < 0) return -2;
  if (terminal_) {
    // The telnet server sets the terminal's modes as the caller answers its
    // options (echo on when the caller lets the server echo): the host's
    // own modes are set again before each wait for a line.
    termios now{};
    if (::tcgetattr(fd_, &now) == 0 && (now.c_lflag != cooked_.c_lflag || now.c_oflag != cooked_.c_oflag ||
                                        now.c_iflag != cooked_.c_iflag)) {
      ::tcsetattr(fd_, TCSANOW, &cooked_);
    }
  }
  pollfd p{fd_, POLLIN, 0};
  int r = ::poll(&p, 1, timeoutMs);
  if (r == 0) return -1;
  if (r < 0) return errno == EINTR ? -1 : -2;
  char buf[4096];
  ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n <= 0) {
    gone_ = true;
    return -2;
  }
  if (log_) log_->Add(caller_, buf, static_cast<size_t>(n));
  inbuf_.clear();
  inpos_ = 0;
  DecodeInput(buf, static_cast<size_t>(n));
  if (inbuf_.empty()) return -1;  // half a character: the rest comes with the next read
  if (kind_ == LineKind::kModem) {
    // On the modem line, "+++" alone is the escape to the modem's commands.
    plusRun_ += inbuf_;
    if (plusRun_.size() > 8) plusRun_.erase(0, plusRun_.size() - 8);
    if (plusRun_.find("+++") != std::string::npos) escaped = true;
  }
  return static_cast<unsigned char>(inbuf_[inpos_++]);
}

}  // namespace demohost
