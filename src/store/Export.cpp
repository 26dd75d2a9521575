#include "store/Export.h"

#include <vector>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Base64(const std::string& in) {
  static const char* const t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1]) << 8 |
                       static_cast<unsigned char>(in[i + 2]);
    out += t[v >> 18 & 63];
    out += t[v >> 12 & 63];
    out += t[v >> 6 & 63];
    out += t[v & 63];
  }
  if (i + 1 == in.size()) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16;
    out += t[v >> 18 & 63];
    out += t[v >> 12 & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16 | static_cast<unsigned char>(in[i + 1]) << 8;
    out += t[v >> 18 & 63];
    out += t[v >> 12 & 63];
    out += t[v >> 6 & 63];
    out += '=';
  }
  return out;
}

// Body lines in UTF-8 with LF ends; in an mbox a line that starts with
// ">*From " gets one more ">" (mboxrd).
std::string Body(const std::string& sjisText, bool mbox) {
  std::string out;
  for (const std::string& l : SplitLines(sjisText)) {
    std::string u = SjisToUtf8(l);
    if (mbox) {
      const size_t gt = u.find_first_not_of('>');
      if (gt != std::string::npos && u.compare(gt, 5, "From ") == 0) u.insert(0, ">");
    }
    out += u + "\n";
  }
  return out;
}

}  // namespace

std::string EncodedWord(const std::string& utf8) {
  bool ascii = true;
  for (unsigned char c : utf8) ascii = ascii && c >= 0x20 && c < 0x7F;
  return ascii ? utf8 : "=?UTF-8?B?" + Base64(utf8) + "?=";
}

std::string MailDate(TDateTime d) {
  const TCivilTime t = DecodeDateTime(d);
  return FormatC("%s, %d %s %04d %02d:%02d:%02d +0900", kDays[DayOfWeek(d)], t.day, kMonths[(t.month + 11) % 12],
                 t.year, t.hour, t.minute, t.second);
}

void ExportArticles(const TMessageStore& store, int onlyBoard, bool mbox, const std::string& hostName,
                    std::ostream& out) {
  std::vector<TVeskoMessage> entries;
  for (int board = 0; board < kBoardCount; ++board) {
    if (onlyBoard >= 0 && board != onlyBoard) continue;
    const TBoardEntry& b = store.BoardTable[static_cast<size_t>(board)];
    const std::string boardText = FormatC("%02d %s %s", board, b.Name.c_str(), SjisToUtf8(b.Title).c_str());
    // A slice of the index at a time: a board of any size costs the same memory.
    for (int first = 0; store.ReadIndexRange(board, first, 4096, entries) > 0;
         first += static_cast<int>(entries.size())) {
      for (const TVeskoMessage& m : entries) {
        std::string text = store.ReadText(board, m.TextPos, m.TextLen);
        if (text.compare(0, 2, "\r\n") == 0) text.erase(0, 2);  // the line break after the head
        const std::string from = SjisToUtf8(m.FromID), handle = SjisToUtf8(m.FromHandle);
        const std::string title = SjisToUtf8(m.Title);
        const TCivilTime t = DecodeDateTime(m.Date);
        if (mbox) {
          const std::string address =
              (from.empty() ? std::string("unknown") : from) + "@" + hostName + ".brelo.invalid";
          out << FormatC("From %s %s %s %2d %02d:%02d:%02d %04d\n", address.c_str(), kDays[DayOfWeek(m.Date)],
                         kMonths[(t.month + 11) % 12], t.day, t.hour, t.minute, t.second, t.year);
          out << "From: " << (handle.empty() ? address : EncodedWord(handle) + " <" + address + ">") << "\n";
          out << "Date: " << MailDate(m.Date) << "\n";
          out << "Subject: " << EncodedWord(title) << "\n";
          out << "Message-ID: <" << FormatC("%02d.%d.%d", board, m.MesNo, m.IndexNo) << "@" << hostName
              << ".brelo.invalid>\n";
          out << "X-Brelo-Board: " << EncodedWord(boardText) << "\n";
          out << "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n";
          out << Body(text, true) << "\n";
        } else {
          out << "Board: " << boardText << "\n";
          out << FormatC("Number: %d\n", m.MesNo);
          out << "From: " << from << " " << handle << "\n";
          out << "Date: "
              << FormatC("%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second) << "\n";
          out << "Subject: " << title << "\n\n";
          out << Body(text, false);
          out << "----------------------------------------------------------------\n";
        }
      }
    }
  }
}

}  // namespace brelo
