// TZENUCOMM: the session's modem port. A TComm with a carrier-detect query,
// a published file-transfer protocol choice and its completion event. The
// session component carries the transfers (over either transport) with this
// Protocol, and raises OnUpOrDownLoaded at the end of each.
#pragma once

#include <functional>
#include <string>

#include "transport/Comm.h"

namespace brelo {

enum ProtType {
  pr_XMODEM_SUM_128, pr_XMODEM_CRC_128, pr_XMODEM_CRC_1024, pr_YMODEM, pr_YMODEM_G, pr_ZMODEM, pr_MLINK
};
const char* ProtTypeName(ProtType p);

class TZENUCOMM : public TComm {
 public:
  using TUpOrDownLoaded = std::function<void(TZENUCOMM* sender, bool success)>;
  TZENUCOMM();

  // False while closed; otherwise whether the modem's carrier (DCD) is on.
  // A device without modem lines has carrier until it hangs up.
  bool CarrierDetected();

  ProtType Protocol = pr_ZMODEM;
  TUpOrDownLoaded OnUpOrDownLoaded;
};

}  // namespace brelo
