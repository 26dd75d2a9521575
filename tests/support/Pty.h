// A pseudo-terminal pair: the test plays the modem on the master side, the
// port under test opens the slave.
#pragma once

#include <string>

namespace brelo::test {

class TPty {
 public:
  TPty();
  ~TPty();
  const std::string& SlavePath() const { return slave_; }
  void Write(const std::string& bytes);
  // Reads what the port wrote, until n bytes or limitMs.
  std::string Read(size_t n, int limitMs = 5000);
  // Reads until text has arrived (bounded), running the main thread's
  // events meanwhile; everything read.
  std::string ReadUntil(const std::string& text, int limitMs = 10000);
  void CloseMaster();
  // A look at the caller's side, opened before the caller opens it (an
  // exclusive open leaves it to root): what the caller has not read yet.
  void WatchCaller();
  // The modem hangs up once the caller has read what it was sent (bounded;
  // the kernel hands bytes on in steps, so: nothing unread for a while). A
  // pseudo-terminal drops what the other side has not read when it closes.
  // Needs WatchCaller.
  void HangUpWhenRead();

 private:
  int master_ = -1;
  int look_ = -1;
  std::string slave_;
};

}  // namespace brelo::test
