// The character encoding a host speaks on the line. Everything inside Brelo
// is Shift-JIS: a host that speaks EUC-JP or UTF-8 is converted at the edge,
// its bytes to Shift-JIS as they arrive and ours from Shift-JIS as they leave.
#pragma once

#include <string>
#include <string_view>

namespace brelo {

enum class EHostEncoding { kShiftJis, kEucJp, kUtf8 };

// The value of a host's `Encoding` key: "EUC-JP" or "UTF-8", read without
// regard to case; anything else (absent, "SHIFT_JIS") is Shift-JIS.
EHostEncoding ParseHostEncoding(std::string_view value);
// The key's value for an encoding: "SHIFT_JIS", "EUC-JP" or "UTF-8".
const char* HostEncodingName(EHostEncoding e);

// "〓", what a character Shift-JIS cannot hold becomes.
inline constexpr char kGetaMark[] = "\x81\xAC";

// A host's bytes to Shift-JIS, chunk by chunk: a character split across two
// chunks is joined first. Characters that Shift-JIS cannot hold, and bytes
// that are no character of the encoding, each become "〓" and are counted.
// A Shift-JIS decoder copies.
class THostDecoder {
 public:
  explicit THostDecoder(EHostEncoding e = EHostEncoding::kShiftJis) : enc_(e) {}
  void SetEncoding(EHostEncoding e);
  EHostEncoding Encoding() const { return enc_; }
  // Forgets a character begun in the last chunk and the count.
  void Reset();
  // Appends the Shift-JIS for the next chunk to out.
  void Decode(const char* p, size_t n, std::string& out);
  // The same into a buffer of at least MaxDecoded(n) bytes; returns the
  // bytes written.
  size_t Decode(const char* p, size_t n, char* out);
  size_t MaxDecoded(size_t n) const { return 2 * (n + carryLen_) + 8; }
  // Characters that became "〓" since the last Reset.
  unsigned long long Replaced() const { return replaced_; }
  // Bytes of a character begun and not yet complete.
  size_t Pending() const { return carryLen_; }

 private:
  // Converts the character at p into *o; returns the bytes taken, 0 when
  // the character is not complete within n bytes.
  size_t Step(const unsigned char* p, size_t n, char*& o);

  EHostEncoding enc_;
  unsigned char carry_[4] = {};
  size_t carryLen_ = 0;
  unsigned long long replaced_ = 0;
};

// Shift-JIS text as the host must receive it. What the host's encoding
// cannot hold is sent as its "〓".
std::string EncodeForHost(EHostEncoding e, std::string_view sjis);

}  // namespace brelo
