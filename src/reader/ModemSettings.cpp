#include "reader/ModemSettings.h"

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "session/VeskoClient.h"

namespace brelo {

std::string TModemSettings::FileName(const std::string& programFolder) { return JoinPath(programFolder, "Modem.Ini"); }

void TModemSettings::Read(const std::string& programFolder) {
  TIniFile ini(FileName(programFolder));
  ini.LoadOrEmpty();
  Port = ini.ReadInteger("MODEM", "PORT", 1);
  Rate = ini.ReadInteger("MODEM", "RATE", 19200);
  Init = ini.ReadString("MODEM", "INIT", "ATZ");
  Dial = ini.ReadString("MODEM", "DIAL", "ATD");
  Device = ini.ReadString("MODEM", "DEVICE", "");
  Protocol = ini.ReadInteger("MODEM", "PROTOCOL", pr_ZMODEM);
  if (Protocol < pr_XMODEM_SUM_128 || Protocol > pr_MLINK) Protocol = pr_ZMODEM;
}

void TModemSettings::Write(const std::string& programFolder) const {
  const std::string path = FileName(programFolder);
  TIniFile ini(path);
  ini.LoadForUpdate();
  ini.WriteInteger("MODEM", "PORT", Port);
  ini.WriteInteger("MODEM", "RATE", Rate);
  ini.WriteString("MODEM", "INIT", Init);
  ini.WriteString("MODEM", "DIAL", Dial);
  if (!Device.empty() || ini.HasKey("MODEM", "DEVICE")) ini.WriteString("MODEM", "DEVICE", Device);
  // Ours: written once it is not the default.
  if (Protocol != pr_ZMODEM || ini.HasKey("MODEM", "PROTOCOL")) ini.WriteInteger("MODEM", "PROTOCOL", Protocol);
  ini.Save();
}

void TModemSettings::ApplyTo(TVeskoClient& c) const {
  c.CommPort = Port;
  c.CommRate = Rate;
  c.ModemInitCommand = Init;
  c.ModemDialCommand = Dial;
  c.ModemDevice = Device;
  c.ModemPort().Protocol = static_cast<ProtType>(Protocol);
}

void TModemSettings::TakeFrom(const TVeskoClient& c) {
  Port = c.CommPort;
  Rate = c.CommRate;
  Init = c.ModemInitCommand;
  Dial = c.ModemDialCommand;
  Device = c.ModemDevice;
  Protocol = c.ModemPort().Protocol;
}

}  // namespace brelo
