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

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace brelo::test
