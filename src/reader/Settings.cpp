#include "reader/Settings.h"

#include <algorithm>

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"

namespace brelo {

std::string TAppSettings::FileName(const std::string& programFolder) {
  return JoinPath(programFolder, "Brelo_V3.ini");
}

std::string QuoteFromStored(const std::string& stored) {
  std::string out = stored;
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<unsigned char>(out[i])) && i + 1 < out.size()) {
      ++i;  // the trail byte stays what it is
    } else if (out[i] == '_') {
      out[i] = ' ';
    }
  }
  return out;
}

std::string QuoteToStored(const std::string& quote) {
  std::string out = quote;
  for (char& c : out) {
    if (c == ' ') c = '_';  // 0x20 is never a trail byte
  }
  return out;
}

void TAppSettings::Read(const std::string& programFolder) {
  TIniFile ini(FileName(programFolder));
  ini.LoadOrEmpty();
  QuoteString = QuoteFromStored(ini.ReadString("Text", "QuoteString", ">_"));
  Editor = ini.ReadString("FileName", "Editor", "NotePad");
  Window.Geometry = ini.ReadString("Window", "Geometry", "");
  Window.Maximized = ini.ReadInteger("Window", "Maximized", 0) != 0;
  Window.BrowserSplit = ini.ReadString("Window", "BrowserSplit", "");
  Window.BoardSplit = ini.ReadString("Window", "BoardSplit", "");
  Window.HostKnown = ini.HasKey("Window", "Host");
  Window.Host = ini.ReadString("Window", "Host", "");
  Window.Page = ini.ReadInteger("Window", "Page", 0);
  Window.Board = ini.ReadInteger("Window", "Board", -1);
  Window.Article = ini.ReadInteger("Window", "Article", -1);
  Window.Scroll = ini.ReadInteger("Window", "Scroll", 0);
  const TSessionOptions d;
  auto flag = [&ini](const char* key, bool def) { return ini.ReadInteger("TerminalOptions", key, def ? 1 : 0) != 0; };
  Options.SealthLogin = flag("SealthLogin", d.SealthLogin);
  Options.ClearNews = flag("ClearNews", d.ClearNews);
  Options.CheckBox7 = flag("ReceiveMail", d.CheckBox7);
  Options.GetUserList = flag("GetUserList", d.GetUserList);
  Options.ExecuteWriteYoyaku = flag("ExecuteWriteYoyaku", d.ExecuteWriteYoyaku);
  Options.GetMidoku = flag("GetMidoku", d.GetMidoku);
  Options.MidokuDate = ini.ReadString("TerminalOptions", "MidokuDate", d.MidokuDate);
  Options.GoodbyeWhenExecute = flag("GoodbyeWhenExecute", d.GoodbyeWhenExecute);
  Options.PassgoodbyeMessage = flag("PassgoodbyeMessage", d.PassgoodbyeMessage);
  Patrol.Enabled = ini.ReadInteger("Patrol", "Enabled", 0) != 0;
  Patrol.AtTimes = ini.ReadInteger("Patrol", "AtTimes", 0) != 0;
  Patrol.EveryMinutes = ini.ReadInteger("Patrol", "Every", 60);
  if (Patrol.EveryMinutes < 1 || Patrol.EveryMinutes > 1440) Patrol.EveryMinutes = 60;
  Patrol.Times = TPatrolSettings::ParseTimes(ini.ReadString("Patrol", "Times", "")).value_or(std::vector<int>{});
  Patrol.Notify = ini.ReadInteger("Patrol", "Notify", 1) != 0;
  TerminalLines = ini.ReadString("Terminal", "View", "Screen") == "Lines";
  TerminalFont = ini.ReadString("Terminal", "Font", kDefaultTerminalFont);
  if (TerminalFont.empty()) TerminalFont = kDefaultTerminalFont;
  TerminalFontSize = std::clamp(ini.ReadInteger("Terminal", "FontSize", kDefaultTerminalFontSize), THostEntry::kMinFontSize,
                                THostEntry::kMaxFontSize);
  TerminalKeys = ini.ReadInteger("Terminal", "Keys", 0) != 0;
  Logs.KeepDays = std::clamp(ini.ReadInteger("SessionLog", "KeepDays", TLogKeeping().KeepDays), 0, 36500);
  Logs.MaxMegabytes = std::clamp(ini.ReadInteger("SessionLog", "MaxMegabytes", TLogKeeping().MaxMegabytes), 0, 1 << 20);
  LoginWatchSeconds = std::clamp(ini.ReadInteger("Session", "LoginWatchSeconds", TAppSettings().LoginWatchSeconds), 1, 3600);
}

void TAppSettings::Write(const std::string& programFolder) const {
  const std::string path = FileName(programFolder);
  TIniFile ini(path);
  ini.LoadForUpdate();
  ini.WriteString("Text", "QuoteString", QuoteToStored(QuoteString));
  ini.WriteString("FileName", "Editor", Editor);
  if (!Window.Geometry.empty()) {
    ini.WriteString("Window", "Geometry", Window.Geometry);
    ini.WriteInteger("Window", "Maximized", Window.Maximized ? 1 : 0);
    ini.WriteString("Window", "BrowserSplit", Window.BrowserSplit);
    ini.WriteString("Window", "BoardSplit", Window.BoardSplit);
    ini.WriteString("Window", "Host", Window.Host);
    ini.WriteInteger("Window", "Page", Window.Page);
    ini.WriteInteger("Window", "Board", Window.Board);
    ini.WriteInteger("Window", "Article", Window.Article);
    ini.WriteInteger("Window", "Scroll", Window.Scroll);
  }
  // Like the schedule: a file that never had options set stays as it was.
  if (!(Options == TSessionOptions()) || ini.HasKey("TerminalOptions", "ClearNews")) {
    auto flag = [&ini](const char* key, bool on) { ini.WriteInteger("TerminalOptions", key, on ? 1 : 0); };
    flag("SealthLogin", Options.SealthLogin);
    flag("ClearNews", Options.ClearNews);
    flag("ReceiveMail", Options.CheckBox7);
    flag("GetUserList", Options.GetUserList);
    flag("ExecuteWriteYoyaku", Options.ExecuteWriteYoyaku);
    flag("GetMidoku", Options.GetMidoku);
    ini.WriteString("TerminalOptions", "MidokuDate", Options.MidokuDate);
    flag("GoodbyeWhenExecute", Options.GoodbyeWhenExecute);
    flag("PassgoodbyeMessage", Options.PassgoodbyeMessage);
  }
  // Like the window's place: a file that never had a schedule stays as it was.
  if (!(Patrol == TPatrolSettings()) || ini.HasKey("Patrol", "Enabled")) {
    ini.WriteInteger("Patrol", "Enabled", Patrol.Enabled ? 1 : 0);
    ini.WriteInteger("Patrol", "AtTimes", Patrol.AtTimes ? 1 : 0);
    ini.WriteInteger("Patrol", "Every", Patrol.EveryMinutes);
    ini.WriteString("Patrol", "Times", TPatrolSettings::TimesText(Patrol.Times));
    ini.WriteInteger("Patrol", "Notify", Patrol.Notify ? 1 : 0);
  }
  if (TerminalLines || ini.HasKey("Terminal", "View")) ini.WriteString("Terminal", "View", TerminalLines ? "Lines" : "Screen");
  if (TerminalFont != kDefaultTerminalFont || ini.HasKey("Terminal", "Font")) ini.WriteString("Terminal", "Font", TerminalFont);
  if (TerminalFontSize != kDefaultTerminalFontSize || ini.HasKey("Terminal", "FontSize")) {
    ini.WriteInteger("Terminal", "FontSize", TerminalFontSize);
  }
  if (TerminalKeys || ini.HasKey("Terminal", "Keys")) ini.WriteInteger("Terminal", "Keys", TerminalKeys ? 1 : 0);
  ini.Save();
}

}  // namespace brelo
