// A file transfer over the line, carried out by the system's lrzsz programs
// (rz receives, sz sends; XMODEM, YMODEM and ZMODEM): the line's bytes go to
// the program, the program's output goes to the line, and its progress
// report is read as it runs. One transfer per object.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/ZenuComm.h"

namespace brelo {

struct TTransferProgress {
  std::string file;          // the file being transferred now
  long long bytes = 0;       // of it, so far
  long long total = 0;       // its size, when known
  long long rate = 0;        // bytes per second
  int secondsLeft = -1;      // -1: not known
};

struct TTransferResult {
  bool success = false;
  bool cancelled = false;
  std::vector<std::string> files;  // downloads: the names in the folder, ".part" for a cut one
  // Downloads: of `files`, those that arrived whole and are in the folder
  // under that name (not a cut one, nor a name the program refused).
  std::vector<std::string> done;
  long long bytes = 0;             // of the last file
  std::string message;             // the program's last words, for a failure
};

// The command line for a protocol: download (receive) or upload (send)
// `files`; empty for a protocol lrzsz does not have (M-LINK). An XMODEM
// download needs the name to store under, since the protocol carries none.
std::vector<std::string> TransferCommand(ProtType p, bool download, const std::vector<std::string>& files);

// A name in folder like `name` that no file has: name, name.1, name.2, ...
std::string FreeName(const std::string& folder, const std::string& name);

class TTransferProgram {
 public:
  TTransferProgram() = default;
  ~TTransferProgram();  // cancels a transfer still running and waits for it
  TTransferProgram(const TTransferProgram&) = delete;
  TTransferProgram& operator=(const TTransferProgram&) = delete;

  // Called on the transfer's own thread.
  std::function<void(const char* p, size_t n)> OnOutput;  // bytes for the line
  std::function<void(const TTransferProgress&)> OnProgress;
  std::function<void(const TTransferResult&)> OnEnd;      // once, at the end

  // Starts the program in folder; false, with the reason, when it cannot run.
  bool Start(const std::vector<std::string>& argv, const std::string& folder, bool download, std::string& error);
  // The line's bytes for the program (any thread; never blocks); from a
  // cancel on they are kept for TakeUnconsumed instead.
  void Input(const char* p, size_t n);
  // Ends the transfer: the program sends the protocol's cancel sequence to
  // the line and stops; a download keeps what arrived under a ".part" name.
  void Cancel();
  bool Running() const { return running_.load(); }
  TTransferProgress Progress() const;
  // Whether the program has reported a file: the transfer has truly begun.
  bool Begun() const { return begun_.load(); }
  // The line's bytes the program never took: what was still waiting for it
  // when it ended or was cancelled, and what came after (the host's text
  // after a transfer, the sender's answer to a cancel).
  std::string TakeUnconsumed();

 private:
  void Pump();
  void ReadReport(const char* p, size_t n);
  void ReportLine(const std::string& line);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1, wake_ = -1;
  bool download_ = false;
  std::string folder_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> begun_{false};
  mutable std::mutex m_;
  bool reaped_ = false;           // under m_: the pump is reaping the program (pid_ may be reused)
  std::string pending_;           // under m_: bytes waiting for the program
  std::string unconsumed_;        // under m_: bytes it never took
  TTransferProgress progress_;    // under m_
  std::vector<std::string> files_;  // pump thread
  std::string report_;            // pump thread: the report's unfinished line
  std::string lastMessage_;       // pump thread
};

}  // namespace brelo
