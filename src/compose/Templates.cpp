#include "compose/Templates.h"

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

// The text of a template file: a final line break is its own (the box shows
// lines), so "a\r\n" stays "a\r\n".
std::string Lines(const std::string& text) { return JoinLinesCRLF(SplitLines(text)); }

}  // namespace

TTemplateEngine::TTemplateEngine(std::string programFolder) : programFolder_(WithSlash(std::move(programFolder))) {}

std::string TTemplateEngine::HeaderFile(int kind) const { return programFolder_ + (kind == 1 ? "H1.TXT" : "H0.TXT"); }
std::string TTemplateEngine::FooterFile(int kind) const { return programFolder_ + (kind == 1 ? "F1.TXT" : "F0.TXT"); }

std::string TTemplateEngine::DefaultHeader(int kind) {
  return kind == 1 ? Sjis("%h(%i)さんへのレスポンスです(^^)\r\n\r\n") : Sjis("どもども、%Hです(^^)\r\n");
}

std::string TTemplateEngine::DefaultFooter(int) { return "\r\n" + std::string(25, ' ') + "< %D %T %H(%I) >"; }

void TTemplateEngine::PrepareTemplates(int kind) {
  TemplateKind = kind == 1 ? 1 : 0;
  std::optional<std::string> h, f;
  try {
    h = ReadWholeFile(HeaderFile(TemplateKind));
  } catch (const EInOutError&) {
  }
  try {
    f = ReadWholeFile(FooterFile(TemplateKind));
  } catch (const EInOutError&) {
  }
  Header = h ? *h : DefaultHeader(TemplateKind);
  Footer = f ? *f : DefaultFooter(TemplateKind);
  ComposeDraft();
}

void TTemplateEngine::ComposeDraft() { Composed = ExpandMacros(Header) + Context.BodyText + ExpandMacros(Footer); }

void TTemplateEngine::StoreTemplates() const {
  WriteFileAtomic(HeaderFile(TemplateKind), Lines(Header));
  WriteFileAtomic(FooterFile(TemplateKind), Lines(Footer));
}

void TTemplateEngine::ComboBox1Change(int newKind) {
  StoreTemplates();
  PrepareTemplates(newKind);
}

void TTemplateEngine::OKBtnClick() { ComboBox1Change(TemplateKind); }

void TTemplateEngine::SetSampleContext() {
  Context.MyID = "VESKO";
  Context.YourID = "KTBBS";
  Context.OrgNo = "9999";
  Context.BoardLabel = "BOARD";
  Context.BodyText = Sjis("本文\r\n");
  Context.MyHandle = Sjis("自分のハンドル");
  Context.YourHandle = Sjis("相手のハンドル");
  ComposeDraft();
}

std::string TTemplateEngine::ExpandMacros(const std::string& t) const {
  static const char* const kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};
  std::string out;
  out.reserve(t.size());
  const TCivilTime now = Clock();
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    // A double-byte character is copied whole: its second byte is no macro.
    if (IsDBCSLeadByte(static_cast<unsigned char>(c)) && i + 1 < t.size()) {
      out += c;
      out += t[++i];
      continue;
    }
    if (c != '%' || i + 1 >= t.size()) {
      out += c;
      continue;
    }
    // Values come from fields the host cut at a byte limit: half a character
    // at their end would make the draft unsavable, so it is left out.
    switch (t[++i]) {
      case 'H': out += WholeChars(Context.MyHandle); break;
      case 'I': out += WholeChars(Context.MyID); break;
      case 'h': out += WholeChars(Context.YourHandle); break;
      case 'i': out += WholeChars(Context.YourID); break;
      case 'D': out += DateText ? DateText(now) : FormatC("%04d/%02d/%02d", now.year, now.month, now.day); break;
      case 'T': out += TimeText ? TimeText(now) : FormatC("%d:%02d:%02d", now.hour, now.minute, now.second); break;
      case 'W': out += Sjis(kWeekdays[DayOfWeek(EncodeDateTime(now))]); break;
      case 'X': out += WholeChars(Context.OrgNo); break;
      case 'S': out += WholeChars(Context.Subject); break;
      case 'B': out += WholeChars(Context.BoardLabel); break;
      default:  // "%" and any other character: one "%"; a double-byte character goes whole
        out += '%';
        if (IsDBCSLeadByte(static_cast<unsigned char>(t[i])) && i + 1 < t.size()) ++i;
        break;
    }
  }
  return out;
}

}  // namespace brelo
