// The modem settings: "Modem.Ini" in the program folder, section "MODEM".
#pragma once

#include <string>

namespace brelo {

class TVeskoClient;

struct TModemSettings {
  int Port = 1;               // PORT: COM port number
  int Rate = 19200;           // RATE: bits per second
  std::string Init = "ATZ";   // INIT: absent gives ATZ, present and empty gives nothing
  std::string Dial = "ATD";   // DIAL
  std::string Device;         // DEVICE: a device path instead of /dev/ttyS(PORT-1)
  int Protocol = 5;           // PROTOCOL: the file-transfer protocol, in ProtType order (ZMODEM)

  static std::string FileName(const std::string& programFolder);
  // Missing file or keys give the defaults; numbers that are not numbers too.
  void Read(const std::string& programFolder);
  // Raises EInOutError("%s に書き込めません").
  void Write(const std::string& programFolder) const;
  void ApplyTo(TVeskoClient& c) const;
  void TakeFrom(const TVeskoClient& c);
};

}  // namespace brelo
