// Host addresses as the user types them, and the look-up's answers.
#include <atomic>

#include "FuzzSupport.h"
#include "session/Address.h"

using namespace brelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string address(reinterpret_cast<const char*>(data), size);
  const TAddress a = ParseAddress(address);
  // The cut parts keep their limits (a bare address is taken whole).
  if (a.kind == TAddress::kHttp && (a.host.size() > 99 || a.path.size() > 200)) __builtin_trap();
  std::string host, port;
  SplitHostPort(a.host, "23", host, port);
  return 0;
}
