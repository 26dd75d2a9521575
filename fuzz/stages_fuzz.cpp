// The receive path's telnet stage (text and a transfer's bytes, on each kind
// of line) and the drain after a cancelled download, each alone: fed whole
// and split at two places taken from the input, the same bytes come out,
// the same answers, and the drain ends at the same byte.
#include <cstdint>
#include <string>
#include <vector>

#include "session/TelnetStage.h"
#include "session/TransferDrain.h"
#include "Split.h"

namespace {

struct TCollect : brelo::IByteSink {
  std::string bytes;
  size_t Put(const char* p, size_t n) override {
    bytes.append(p, n);
    return n;
  }
};

std::string Telnet(const std::vector<std::string>& reads, brelo::ELineKind kind, bool transfer) {
  brelo::TTelnetStage s;
  s.Reset(kind);
  s.SetAnswers(true);
  if (transfer) s.BeginTransfer();
  TCollect out;
  for (const std::string& r : reads) {
    const size_t took = transfer ? s.Transfer(r.data(), r.size(), out) : s.Text(r.data(), r.size(), out);
    if (took != r.size()) __builtin_trap();
  }
  s.EndTransfer();
  return out.bytes + '|' + s.Replies() + (s.TelnetKnown() ? "T" : "U");
}

std::string Drain(const std::vector<std::string>& reads) {
  brelo::TTransferDrain d;
  d.Start();
  std::string text;
  size_t sender = 0;
  for (const std::string& r : reads) {
    if (!d.Active()) {
      text += r;
      continue;
    }
    const size_t took = d.Put(r.data(), r.size());
    if (took > r.size()) __builtin_trap();
    sender += took;
    if (!d.Active()) text += d.TakeText() + r.substr(took);
  }
  d.Stop();
  text += d.TakeText();
  return std::to_string(sender) + '|' + text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> whole = {in}, split = brelo::fuzz::ThreeReads(data, size);
  for (const auto kind : {brelo::ELineKind::kAuto, brelo::ELineKind::kTelnet, brelo::ELineKind::kRaw}) {
    for (const bool transfer : {false, true}) {
      if (Telnet(whole, kind, transfer) != Telnet(split, kind, transfer)) __builtin_trap();
    }
  }
  if (Drain(whole) != Drain(split)) __builtin_trap();
  return 0;
}
