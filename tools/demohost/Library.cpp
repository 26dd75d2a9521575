// The demo host's file library: files in DIR/files/ to download, uploads
// into DIR/upload/, carried by the system's lrzsz on the caller's line.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "HostSession.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "session/TransferProgram.h"

namespace demohost {
namespace {

constexpr unsigned char IAC = 0xFF, WILL = 0xFB, WONT = 0xFC, DO = 0xFD, DONT = 0xFE, SB = 0xFA, SE = 0xF0;
constexpr unsigned char BINARY = 0;

// A name of the library: no folder, nothing hidden.
bool PlainName(const std::string& n) {
  return !n.empty() && n[0] != '.' && n.find('/') == std::string::npos && n.size() < 200;
}

std::string Trimmed(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

void HostSession::Library() {
  const std::string folder = data_.Folder() + "files/";
  ::mkdir(folder.c_str(), 0755);
  std::vector<std::pair<std::string, long long>> files;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      struct stat st {};
      if (PlainName(e->d_name) && ::stat((folder + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        files.emplace_back(e->d_name, static_cast<long long>(st.st_size));
      }
    }
    ::closedir(d);
  }
  std::sort(files.begin(), files.end());
  SayU("== ファイルライブラリ ==\r\n");
  for (const auto& [name, size] : files) {
    char line[300];
    std::snprintf(line, sizeof line, "%-40s %12lld\r\n", name.c_str(), size);
    Say(line);
  }
  SayU(std::to_string(files.size()) + " 件\r\n");
}

void HostSession::SendFile(const std::string& command) {
  // "D name" ZMODEM, "DX name" XMODEM (1K blocks), "DY name" YMODEM.
  const char kind = command.size() > 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(command[1]))) : ' ';
  const std::string name = Trimmed(command.substr(kind == 'X' || kind == 'Y' ? 2 : 1));
  const std::string folder = data_.Folder() + "files/";
  if (!PlainName(name) || !brelo::FileExists(folder + name)) {
    SayU("そのファイルはありません。\r\n");
    return;
  }
  const brelo::ProtType p = kind == 'X' ? brelo::pr_XMODEM_CRC_1024 : kind == 'Y' ? brelo::pr_YMODEM : brelo::pr_ZMODEM;
  SayU(std::string("送信を開始します (") + brelo::ProtTypeName(p) + ")\r\n");
  const bool ok = Transfer(brelo::TransferCommand(p, false, {folder + name}), folder, false);
  SayU(ok ? "\r\n送信を終了しました。\r\n" : "\r\n送信できませんでした。\r\n");
}

void HostSession::ReceiveFiles(const std::string& command) {
  // "UP" ZMODEM, "UPX name" XMODEM, "UPY" YMODEM.
  const char kind = command.size() > 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(command[2]))) : ' ';
  const std::string folder = data_.Folder() + "upload/";
  ::mkdir(folder.c_str(), 0755);
  brelo::ProtType p = brelo::pr_ZMODEM;
  std::string name;
  if (kind == 'X') {
    p = brelo::pr_XMODEM_CRC_1024;
    name = Trimmed(command.substr(3));
    if (!PlainName(name)) {
      SayU("XMODEM では名前を付けてください (UPX 名前)。\r\n");
      return;
    }
    name = brelo::FreeName(folder, name);
  } else if (kind == 'Y') {
    p = brelo::pr_YMODEM;
  }
  SayU(std::string("受信を開始します (") + brelo::ProtTypeName(p) + ")\r\n");
  const std::vector<std::string> names = name.empty() ? std::vector<std::string>() : std::vector<std::string>{name};
  const bool ok = Transfer(brelo::TransferCommand(p, true, names), folder, true);
  SayU(ok ? "\r\n受信を終了しました。\r\n" : "\r\n受信できませんでした。\r\n");
}

bool HostSession::Transfer(const std::vector<std::string>& argv, const std::string& folder, bool download) {
  const bool telnet = conn_.IsSocket();
  // Binary both ways for the transfer, unless told to refuse it; asked for
  // only where it is not on already.
  bool binaryOut = binaryOut_;  // under outMutex
  std::mutex outMutex;          // the program's output and a change of how it is sent keep their order
  bool& binaryIn = binaryIn_;
  const bool askIn = telnet && !config_.noBinary && !binaryIn_, askOut = telnet && !config_.noBinary && !binaryOut_;
  if (askIn) conn_.WriteRaw(std::string{char(IAC), char(DO), char(BINARY)});
  if (askOut) conn_.WriteRaw(std::string{char(IAC), char(WILL), char(BINARY)});
  brelo::TTransferProgram program;
  std::atomic<bool> done{false};
  bool success = false;
  program.OnOutput = [&](const char* p, size_t n) {
    std::lock_guard<std::mutex> lk(outMutex);
    std::string out;
    for (size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(p[i]);
      out += static_cast<char>(b);
      if (telnet && b == IAC) out += static_cast<char>(IAC);
      if (telnet && b == '\r' && !binaryOut) out += '\0';
    }
    conn_.WriteRaw(out);
  };
  program.OnEnd = [&](const brelo::TTransferResult& r) {
    success = r.success;
    if (!r.success) std::fprintf(stderr, "brelo-demohost: transfer ended without success: %s\n", r.message.c_str());
    done = true;
  };
  int state = 0;  // 0 data, 1 IAC, 2 verb, 3 SB, 4 SB IAC
  unsigned char verb = 0;
  bool cr = false, answeredIn = !askIn, answeredOut = !askOut;
  std::string data;
  // The caller's bytes: telnet commands taken out, IAC IAC as 0xFF, CR NUL as CR outside binary.
  const auto take = [&](const char* buf, long n) {
    for (long i = 0; i < n; ++i) {
      const auto c = static_cast<unsigned char>(buf[i]);
      if (!telnet) {
        data += static_cast<char>(c);
        continue;
      }
      switch (state) {
        case 0:
          if (c == IAC) {
            state = 1;
          } else if (c == 0 && cr && !binaryIn) {
            cr = false;
          } else {
            cr = c == '\r';
            data += static_cast<char>(c);
          }
          break;
        case 1:
          if (c == IAC) {
            data += static_cast<char>(c);
            state = 0;
          } else if (c >= WILL && c <= DONT) {
            verb = c;
            state = 2;
          } else {
            state = c == SB ? 3 : 0;
          }
          break;
        case 2:
          state = 0;
          if (c != BINARY) break;
          if (config_.noBinary) {
            if (verb == WILL) conn_.WriteRaw(std::string{char(IAC), char(DONT), char(BINARY)});
            if (verb == DO) conn_.WriteRaw(std::string{char(IAC), char(WONT), char(BINARY)});
          } else if (verb == WILL || verb == WONT) {
            // The answer to our DO, or the caller's own request, which is answered.
            const bool on = verb == WILL;
            if (answeredIn && on != binaryIn) conn_.WriteRaw(std::string{char(IAC), char(on ? DO : DONT), char(BINARY)});
            binaryIn = on;
            answeredIn = true;
          } else {
            const bool on = verb == DO;
            std::lock_guard<std::mutex> lk(outMutex);
            if (answeredOut && on != binaryOut) conn_.WriteRaw(std::string{char(IAC), char(on ? WILL : WONT), char(BINARY)});
            binaryOut = on;
            answeredOut = true;
          }
          break;
        case 3: if (c == IAC) state = 4; break;
        default: state = c == SE ? 0 : 3; break;
      }
    }
  };
  char buf[16384];
  // The answers first (a second at most), so that the program's first bytes
  // already go in the mode agreed.
  for (int waited = 0; waited < 1000 && !(answeredIn && answeredOut); waited += 50) {
    const long n = conn_.ReadRaw(buf, sizeof buf, 50);
    if (n < 0) return false;
    take(buf, n);
  }
  std::string error;
  conn_.RawTerminal(true);
  if (!program.Start(argv, folder, download, error)) {
    conn_.RawTerminal(false);
    std::fprintf(stderr, "brelo-demohost: cannot run %s: %s\n", argv.empty() ? "?" : argv[0].c_str(), error.c_str());
    return false;
  }
  while (!done.load()) {
    if (!data.empty()) {
      program.Input(data.data(), data.size());
      data.clear();
    }
    const long n = conn_.ReadRaw(buf, sizeof buf, 100);
    if (n < 0) {
      program.Cancel();
      while (!done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      break;
    }
    take(buf, n);
  }
  binaryOut_ = binaryOut;
  conn_.RawTerminal(false);
  // A breath before the host speaks again, as the caller's program ends too.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  return success;
}

}  // namespace demohost
