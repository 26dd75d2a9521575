// The stage of the receive path that makes lines: text and control bytes in
// (Shift-JIS, escape sequences already out), screen lines out. TAB, BS and
// CR as the host dialogue has always had them; other control bytes, LF
// among them, are dropped. Beside its text a line keeps how the host
// painted it (runs of attributes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brelo {

// How the host painted a stretch of a line (the colour escapes taken out of
// its text): colours 0-7 and their bright forms 8-15, or the terminal's own.
struct TTextAttr {
  static constexpr uint8_t kDefault = 0xFF;
  uint8_t fg = kDefault;
  uint8_t bg = kDefault;
  bool bold = false;
  bool reverse = false;
  bool operator==(const TTextAttr&) const = default;
};
// From byte `start` of a line to the next run's start (or the line's end).
struct TAttrRun {
  uint32_t start = 0;
  TTextAttr attr;
  bool operator==(const TAttrRun&) const = default;
};

// Text for the line stage, and the painting in force.
class ITextSink {
 public:
  // Takes bytes; fewer than n when a line end found no room.
  virtual size_t Text(const char* p, size_t n) = 0;
  virtual const TTextAttr& Attr() const = 0;
  virtual void SetAttr(const TTextAttr& a) = 0;

 protected:
  ~ITextSink() = default;
};

// Where a complete line goes (the ring).
class ILineEnd {
 public:
  // Takes the line and its runs (swapping them out); false when there is
  // no room, and then nothing changes.
  virtual bool EndLine(std::string& line, std::vector<TAttrRun>& runs) = 0;

 protected:
  ~ILineEnd() = default;
};

class TLineBuilder : public ITextSink {
 public:
  // A line that grows this long without a CR is ended here, so that a host
  // that never sends CR cannot exhaust memory; nothing is dropped.
  static constexpr size_t kMaxLineBytes = 65536;

  explicit TLineBuilder(ILineEnd& end) : end_(end) {}
  void Reset();
  size_t Text(const char* p, size_t n) override;
  const TTextAttr& Attr() const override { return attr_; }
  void SetAttr(const TTextAttr& a) override;
  // The line being received and its runs.
  const std::string& Partial() const { return partial_; }
  const std::vector<TAttrRun>& PartialRuns() const { return runs_; }

 private:
  bool EndLine();

  ILineEnd& end_;
  std::string partial_;
  std::vector<TAttrRun> runs_;
  TTextAttr attr_;  // the painting in force
};

}  // namespace brelo
