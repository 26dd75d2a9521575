#include "transport/ZenuComm.h"

#include <sys/ioctl.h>

namespace brelo {

const char* ProtTypeName(ProtType p) {
  static const char* const kNames[] = {"XMODEM [SUM] 128byte", "XMODEM [CRC] 128byte", "XMODEM [CRC] 1024byte",
                                       "YMODEM",               "YMODEM-G",             "ZMODEM",
                                       "M-LINK"};
  return kNames[p];
}

TZENUCOMM::TZENUCOMM() : TComm() { Protocol = pr_ZMODEM; }

bool TZENUCOMM::CarrierDetected() {
  if (!IsOpen()) return false;
  int bits = 0;
  if (QueryModemStatus(bits)) return (bits & TIOCM_CD) != 0 && !HungUp();
  return !HungUp();
}

}  // namespace brelo
