// What the fuzz targets share: the input as host lines for the dialogue, a
// line control that connects nothing, and a scratch folder.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/FileUtil.h"
#include "session/Dialogue.h"

namespace brelo::fuzz {

// The input split at LF (CR dropped, as the receive path drops it); the part
// after the last LF is the partial line.
class TFuzzSource : public ILineSource, public ILineSink {
 public:
  TFuzzSource(const uint8_t* data, size_t size) {
    std::string cur;
    for (size_t i = 0; i < size; ++i) {
      const char c = static_cast<char>(data[i]);
      if (c == '\n') {
        lines_.push_back(cur);
        cur.clear();
      } else if (c != '\r') {
        cur += c;
      }
    }
    partial_ = cur;
  }
  std::string NextLine() override {
    if (!LineWaiting()) {
      terminated_ = true;
      return std::string();
    }
    return lines_[pos_++];
  }
  bool Terminated() const override { return terminated_; }
  bool LineWaiting() override { return pos_ < lines_.size(); }
  int ReadPos() override { return static_cast<int>(pos_ % 1000); }
  int LineIndex() override { return static_cast<int>(lines_.size() % 1000); }
  std::string LineAt(int slot) override {
    const size_t n = lines_.size();
    if (static_cast<size_t>(slot) == n % 1000) return partial_;
    for (size_t a = n; a-- > 0 && a + 999 >= n;) {
      if (a % 1000 == static_cast<size_t>(slot)) return lines_[a];
    }
    return std::string();
  }
  void Idle(int ms) override {
    clock_ += ms;
    if (!LineWaiting() && ++idles_ > 3) terminated_ = true;  // nothing more comes
  }
  long long TickCount() override { return clock_; }
  void SendLine(const std::string&) override {}
  void SendText(const std::string&) override {}

 private:
  std::vector<std::string> lines_;
  std::string partial_;
  size_t pos_ = 0;
  bool terminated_ = false;
  long long clock_ = 0;
  int idles_ = 0;
};

struct TNoEvents : IDialogueEvents {
  void PostStatus(const std::string&) override {}
  void Login() override {}
  void Logout() override {}
  void GetMainPrompt() override {}
  void GetMessageBoard(int, const std::string&, const std::string&) override {}
  void ReceiveMessage(TVeskoMessage& m) override { Check(m); }
  void ReceiveMail(TVeskoMessage& m) override { Check(m); }
  void ReceiveTelegram(const std::string&, const std::string&) override {}
  void ReceiveLoginUsers(const std::string&) override {}
  void ReceiveUsers(const std::string&, bool) override {}
  void ReceiveChatLine(int, const std::string&, const std::string&, bool) override {}
  void ExecuteWriteMessage(int) override {}
  bool HasExecuteWriteMessage() override { return true; }
  bool HasReceiveMail() override { return true; }
  // The short strings keep their limits.
  static void Check(const TVeskoMessage& m) {
    if (m.FromID.size() > 8 || m.FromHandle.size() > 14 || m.Title.size() > 60 || m.BoardName.size() > 60) {
      __builtin_trap();
    }
  }
};


// A folder of this process for the file readers.
inline const std::string& Scratch() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/brelo-fuzz-XXXXXX";
    return WithSlash(::mkdtemp(tmpl));
  }();
  return dir;
}

// Writes an input where a loader finds it, after removing what the last
// input left in the scratch folder (copies of damaged files kept aside).
inline void Write(const std::string& path, const uint8_t* data, size_t size) {
  if (DIR* d = ::opendir(Scratch().c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (std::strstr(e->d_name, ".broken-") != nullptr) ::unlink((Scratch() + e->d_name).c_str());
    }
    ::closedir(d);
  }
  WriteFileAtomic(path, std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace brelo::fuzz
