#include "session/TransferProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "common/FileUtil.h"

extern char** environ;

namespace brelo {
namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Ten CAN and as many backspaces, as lrzsz itself cancels: CAN CAN ends an
// XMODEM or YMODEM transfer, five in a row a ZMODEM one; the backspaces wipe
// them off a screen that shows them.
constexpr char kCancelSequence[] = "\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";

bool Exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> TransferCommand(ProtType p, bool download, const std::vector<std::string>& files) {
  // lrzsz picks the protocol by the name it is called by: rx/sx XMODEM,
  // rb/sb YMODEM, rz/sz ZMODEM. -b: the bytes as they are; -vv: the progress
  // report on stderr; -E: a file that exists is not written over, the new
  // one gets ".0", ".1", ... (XMODEM carries no name: the caller chose one).
  const bool xmodem = p <= pr_XMODEM_CRC_1024;
  if (p == pr_MLINK || files.empty() == (!download || xmodem)) return {};
  std::vector<std::string> argv;
  if (download) {
    if (xmodem) {
      argv = {"rx", "-b", "-vv"};
      if (p != pr_XMODEM_SUM_128) argv.push_back("-c");
      argv.push_back(files.front());
    } else {
      argv = {p == pr_ZMODEM ? "rz" : "rb", "-b", "-vv", "-E"};  // YMODEM-G: the sender falls back to YMODEM
    }
    return argv;
  }
  if (xmodem) {
    argv = {"sx", "-b", "-vv"};  // the receiver chooses the checksum or the CRC
    if (p == pr_XMODEM_CRC_1024) argv.push_back("-k");
    argv.push_back(files.front());  // one file per XMODEM transfer
    return argv;
  }
  argv = {p == pr_ZMODEM ? "sz" : "sb", "-b", "-vv"};
  if (p != pr_ZMODEM) argv.push_back("-k");
  argv.insert(argv.end(), files.begin(), files.end());
  return argv;
}

std::string FreeName(const std::string& folder, const std::string& name) {
  std::string candidate = name;
  for (int i = 1; Exists(folder + candidate) && i < 100000; ++i) candidate = name + "." + std::to_string(i);
  return candidate;
}

TTransferProgram::~TTransferProgram() {
  if (running_.load()) Cancel();
  if (thread_.joinable()) thread_.join();
  CloseFd(wake_);
}

bool TTransferProgram::Start(const std::vector<std::string>& argv, const std::string& folder, bool download,
                             std::string& error) {
  if (argv.empty()) {
    error = "no program for this protocol";
    return false;
  }
  download_ = download;
  folder_ = folder;
  // stdin a socket pair, so that writing to a program that has ended is an
  // error and not a signal; stdout and stderr pipes.
  int in[2], out[2], err[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[1], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  posix_spawn_file_actions_addchdir_np(&fa, folder.c_str());
  // Every signal as a new program expects it, whatever this process
  // ignores or blocks (started with SIGINT ignored from a script, an
  // interrupt would not stop it).
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = ::posix_spawnp(&pid_, argv[0].c_str(), &fa, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[1]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[0];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) {
    error = argv[0] + ": " + std::strerror(rc);
    CloseFd(in_);
    CloseFd(out_);
    CloseFd(err_);
    return false;
  }
  ::fcntl(in_, F_SETFL, ::fcntl(in_, F_GETFL) | O_NONBLOCK);
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  running_ = true;
  thread_ = std::thread([this] { Pump(); });
  return true;
}

void TTransferProgram::Input(const char* p, size_t n) {
  if (n == 0) return;
  {
    std::lock_guard<std::mutex> lk(m_);
    // From the cancel on, the line's bytes are no longer the program's: the
    // sender's answer to the cancel and the host's words after it wait for
    // the line, in order, however long the program takes to stop.
    if (!running_.load() || cancel_.load()) {
      unconsumed_.append(p, n);
      return;
    }
    pending_.append(p, n);
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(wake_, &one, sizeof one);
}

void TTransferProgram::Cancel() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!running_.load() || cancel_.exchange(true)) return;
    unconsumed_.insert(0, pending_);  // never given to the program: the line's, before what follows
    pending_.clear();
    // The pump thread cancels by the protocol's means; the interrupt is for
    // a program that reads nothing any more. Never once the pump has reaped
    // it: its number may be another process's by then.
    if (!reaped_) ::kill(pid_, SIGINT);
  }
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(wake_, &one, sizeof one);
}

std::string TTransferProgram::TakeUnconsumed() {
  std::lock_guard<std::mutex> lk(m_);
  std::string out;
  out.swap(unconsumed_);
  return out;
}

TTransferProgress TTransferProgram::Progress() const {
  std::lock_guard<std::mutex> lk(m_);
  return progress_;
}

void TTransferProgram::ReportLine(const std::string& line) {
  long long bytes = 0, total = 0, rate = 0;
  int mm = -1, ss = -1;
  for (const char* head : {"Receiving: ", "Sending: "}) {
    if (line.rfind(head, 0) == 0) {
      const std::string name = line.substr(std::strlen(head));
      files_.push_back(name);
      begun_ = true;
      std::lock_guard<std::mutex> lk(m_);
      progress_ = TTransferProgress();
      progress_.file = name;
    }
  }
  // XMODEM carries no name: sx names the file it sends, rx the one it was
  // given, as they wait for the other side.
  if (line.rfind("Sending /", 0) == 0 && line.find(", ") != std::string::npos) {
    const std::string path = line.substr(8, line.find(", ") - 8);
    files_.push_back(path.substr(path.rfind('/') + 1));
    std::lock_guard<std::mutex> lk(m_);
    progress_.file = files_.back();
  }
  constexpr const char* kReady = "rx: ready to receive ";
  if (line.rfind(kReady, 0) == 0) {
    files_.push_back(line.substr(std::strlen(kReady)));
    std::lock_guard<std::mutex> lk(m_);
    progress_.file = files_.back();
  }
  size_t at = line.find("Bytes received:");
  if (at == std::string::npos) at = line.find("Bytes Sent:");
  if (at != std::string::npos) {
    const char* s = line.c_str() + line.find(':', at) + 1;
    const int got = std::sscanf(s, "%lld/%lld BPS:%lld ETA %d:%d", &bytes, &total, &rate, &mm, &ss);
    if (got < 1) return;
    TTransferProgress copy;
    {
      std::lock_guard<std::mutex> lk(m_);
      progress_.bytes = bytes;
      if (got >= 2) progress_.total = total;
      if (got >= 3) progress_.rate = rate;
      progress_.secondsLeft = got >= 5 ? mm * 60 + ss : (got >= 3 && total == bytes ? 0 : -1);
      copy = progress_;
    }
    begun_ = true;
    if (OnProgress) OnProgress(copy);
    return;
  }
  if (!line.empty() && line.find_first_not_of(' ') != std::string::npos) lastMessage_ = line;
}

void TTransferProgram::ReadReport(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == '\r' || p[i] == '\n') {
      ReportLine(report_);
      report_.clear();
    } else if (report_.size() < 4096) {
      report_ += p[i];
    }
  }
}

void TTransferProgram::Pump() {
  char buf[16384];
  bool outOpen = true, errOpen = true;
  std::string writing;
  size_t ours = 0;  // bytes of our own cancel sequence at the front of `writing`
  std::chrono::steady_clock::time_point cancelAt{};
  while (outOpen || errOpen) {
    if (writing.empty()) {
      std::lock_guard<std::mutex> lk(m_);
      writing.swap(pending_);
    }
    pollfd fds[4] = {{out_, static_cast<short>(outOpen ? POLLIN : 0), 0},
                     {err_, static_cast<short>(errOpen ? POLLIN : 0), 0},
                     {wake_, POLLIN, 0},
                     {in_, static_cast<short>(!writing.empty() && in_ >= 0 ? POLLOUT : 0), 0}};
    ::poll(fds, 4, 200);
    if (fds[2].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] ssize_t r = ::read(wake_, &v, sizeof v);
    }
    if (cancel_.load() && cancelAt == std::chrono::steady_clock::time_point{}) {
      // The protocol's own cancel, which XMODEM, YMODEM and ZMODEM all
      // know: to the host, which stops sending or receiving, and to the
      // program as if the host had sent it, so it stops whatever became of
      // the interrupt. The line's bytes in flight are for neither any more.
      if (OnOutput) OnOutput(kCancelSequence, sizeof kCancelSequence - 1);
      writing.assign(kCancelSequence, sizeof kCancelSequence - 1);
      ours = writing.size();
      cancelAt = std::chrono::steady_clock::now();
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t r = ::read(out_, buf, sizeof buf);
      // After a cancel, what the program still writes is not for the line.
      if (r > 0 && OnOutput && !cancel_.load()) OnOutput(buf, static_cast<size_t>(r));
      if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) outOpen = false;
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t r = ::read(err_, buf, sizeof buf);
      if (r > 0) ReadReport(buf, static_cast<size_t>(r));
      if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) errOpen = false;
    }
    if (!writing.empty() && in_ >= 0 && (fds[3].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t w = ::send(in_, writing.data(), writing.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w > 0) {
        writing.erase(0, static_cast<size_t>(w));
        ours -= std::min(ours, static_cast<size_t>(w));
      }
      else if (w < 0 && errno != EAGAIN && errno != EINTR) CloseFd(in_);  // the program is gone: the rest is text
    }
    // A program that does not stop on the interrupt is stopped for good.
    if (cancelAt != std::chrono::steady_clock::time_point{} &&
        std::chrono::steady_clock::now() - cancelAt > std::chrono::seconds(5)) {
      ::kill(pid_, SIGKILL);
    }
  }
  if (!report_.empty()) ReportLine(report_);
  {
    std::lock_guard<std::mutex> lk(m_);
    reaped_ = true;
  }
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  CloseFd(in_);
  CloseFd(out_);
  CloseFd(err_);
  TTransferResult result;
  // A program that finished its file before the cancel reached it has done
  // the transfer: the file is whole and keeps its name.
  result.success = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.cancelled = cancel_.load() && !result.success;
  result.message = lastMessage_;
  result.bytes = Progress().bytes;
  result.files = files_;
  if (download_) {
    for (size_t i = 0; i < files_.size(); ++i) {
      const std::string& name = files_[i];
      const bool cut = !result.success && i + 1 == files_.size();
      if (!cut && name.find('/') == std::string::npos && Exists(folder_ + name)) result.done.push_back(name);
    }
  }
  if (download_ && !result.success && !files_.empty()) {
    // What arrived of the cut file is kept, under a name that says so.
    std::string& last = result.files.back();
    if (Exists(folder_ + last)) {
      const std::string part = FreeName(folder_, last + ".part");
      if (::rename((folder_ + last).c_str(), (folder_ + part).c_str()) == 0) last = part;
    }
  }
  {
    // Our own cancel, never delivered to the program, is none of the line's bytes.
    writing.erase(0, ours);
    std::lock_guard<std::mutex> lk(m_);
    unconsumed_ = writing + pending_ + unconsumed_;
    pending_.clear();
    running_ = false;
  }
  if (OnEnd) OnEnd(result);
}

}  // namespace brelo
