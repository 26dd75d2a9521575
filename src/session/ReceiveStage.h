// What the stages of the receive path hand their bytes to: the next stage
// (or the ring, a transfer's program, the drain after a cancel).
#pragma once

#include <cstddef>

namespace brelo {

class IByteSink {
 public:
  // Takes bytes; returns how many it took. Fewer than n means the rest is
  // for another path (a transfer began, a drain ended): the caller stops
  // there and the owner routes the rest.
  virtual size_t Put(const char* p, size_t n) = 0;

 protected:
  ~IByteSink() = default;
};

}  // namespace brelo
