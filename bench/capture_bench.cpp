// Capture throughput: 100,000 messages of ten lines each, dispatched and
// captured into records, in messages per second, beside the same source
// merely split into lines. The host's bytes come as a block of 1,000
// messages sent over and over: a host's bytes reach the ring from a
// socket's buffer, in cache, and a block of tens of megabytes made both
// steps wait on this machine's memory, which its neighbours slow from one
// moment to the next.
#include <atomic>
#include <algorithm>
#include <cstdio>
#include <string>

#include "BenchUtil.h"
#include "MemorySource.h"
#include "common/Sjis.h"
#include "session/Dialogue.h"

using namespace brelo;

namespace {

struct TCount : IDialogueEvents {
  long messages = 0;
  void PostStatus(const std::string&) override {}
  void Login() override {}
  void Logout() override {}
  void GetMainPrompt() override {}
  void GetMessageBoard(int, const std::string&, const std::string&) override {}
  void ReceiveMessage(TVeskoMessage&) override { ++messages; }
  void ReceiveMail(TVeskoMessage&) override {}
  void ReceiveTelegram(const std::string&, const std::string&) override {}
  void ReceiveLoginUsers(const std::string&) override {}
  void ReceiveUsers(const std::string&, bool) override {}
  void ReceiveChatLine(int, const std::string&, const std::string&, bool) override {}
  void ExecuteWriteMessage(int) override {}
  bool HasExecuteWriteMessage() override { return false; }
  bool HasReceiveMail() override { return false; }
};


}  // namespace

int main(int argc, char** argv) {
  const int asked = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int perBlock = std::clamp(asked, 1, 1000), times = std::max(asked / perBlock, 1);
  const int messages = perBlock * times;
  // The host's news listing, as bytes.
  std::string lines;
  lines.reserve(static_cast<size_t>(perBlock) * 560);
  lines += Sjis("日付が 98/01/01 以降のものを読みます。") + "\r\n";
  lines += "0001: GENERAL  " + Sjis("雑談ボード") + "\r\n";
  const std::string from = Sjis("たろう"), section = Sjis("雑談ボード"), title = Sjis("題名");
  const std::string body = Sjis("本文の行です。これは捕捉の速さを測るためのメッセージです。") + "\r\n";
  for (int i = 0; i < perBlock; ++i) {
    char head[64];
    std::snprintf(head, sizeof head, "Message  #%04d is from: TARO ", i % 10000);
    lines += head + from + "\r\n";
    lines += "Time: 98/03/15 21:07:33  Section 1:" + section + "\r\n";
    lines += "Subj: " + title + std::to_string(i) + "\r\n";
    for (int b = 0; b < 7; ++b) lines += body;
  }
  // The same source taken line by line (the baseline), and dispatched and
  // captured. Splitting mostly copies memory and capturing mostly computes,
  // and this machine's memory is slowed from moment to moment while its
  // cores are not: each round takes each step's least time over bursts
  // spread in time (see LeastTimes), after a first round not counted (pages
  // touched the first time).
  const auto split = [&] {
    bench::TMemorySource src(lines, times);
    std::string line;
    size_t bytes = 0;
    while (src.LineWaiting()) {
      src.NextLineInto(line);
      bytes += line.size();
    }
    return bytes > 0;
  };
  const auto capture = [&] {
    TSessionSettings settings;
    std::atomic<int> mode{sm_online}, channel{-1};
    TCount count;
    TNoLine control;
    bench::TMemorySource src(lines, times);
    TDialogue d(src, src, count, control, settings, mode, channel, [] { return TPendingWrite(); });
    std::string line;
    while (src.LineWaiting()) {
      src.NextLineInto(line);
      d.Dispatch(line);
    }
    if (count.messages == messages) return true;
    std::printf("FAIL: %ld of %d messages captured\n", count.messages, messages);
    return false;
  };
  bench::KeepHeapMapped();
  bench::TRounds base, rate;
  for (int round = -1; round < 7; ++round) {
    const std::vector<double> least = bench::LeastTimes({split, capture}, 4, 1, 50);
    if (least.empty()) return 1;
    if (round < 0) continue;
    base.Add(messages / least[0]);
    rate.Add(messages / least[1]);
  }
  bench::Report("capture, messages/s", rate, base, "msg/s", ">= 0.5");
  return 0;
}
