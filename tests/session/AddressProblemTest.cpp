// What keeps an address from being called, named before it is stored.
#include <gtest/gtest.h>

#include "common/Sjis.h"
#include "session/Address.h"

namespace brelo {
namespace {

TEST(AddressProblem, EveryFormIsCheckedAndTheFirstProblemNamed) {
  const std::pair<const char*, const char*> cases[] = {
      // Addresses a connection can use.
      {"telnet://127.0.0.1/", ""},
      {"TELNET://bbs.example.jp:2323/", ""},
      {"telnet://[::1]:2323/", ""},
      {"http://www.example.jp/bbs/address.html", ""},
      {"https://www.example.jp:8443/a", ""},
      {"tel://03-1234-5678/", ""},
      {"tel://t0312345678w/", ""},
      {"0312345678", ""},
      {"bbs.example.jp", ""},
      {"127.0.0.1:2323", ""},
      {"fe80::1", ""},
      {"ssh://bbs.example.jp/", ""},
      {"SSH://taro_2.x-y@bbs.example.jp:2222/", ""},
      {"ssh://[::1]:2222/", ""},
      // And those it cannot.
      {"", "接続先が空です"},
      {"foo bar:99999x", "接続先に空白か制御文字があります: 「foo bar:99999x」"},
      {"telnet://127.0.0.1/\xE3\x80\x80", "接続先に空白か制御文字があります: 「telnet://127.0.0.1/　」"},
      {"foo:99999x", "ポート番号「99999x」は 1～65535 の数ではありません"},
      {"telnet://bbs.example.jp:70000/", "ポート番号「70000」は 1～65535 の数ではありません"},
      {"bbs.example.jp:", "ポート番号「」は 1～65535 の数ではありません"},
      {"telnet://127.0.0.1", "telnet:// の後にホスト名と / が要ります (例: telnet://127.0.0.1/)"},
      {"http://www.example.jp", "http:// の後にホスト名と / が要ります (例: http://www.example.jp/bbs/address.html)"},
      {"tel://0312345678", "tel:// の後に電話番号と / が要ります (例: tel://0312345678/)"},
      {"telnet://:23/", "ホスト名がありません: 「:23」"},
      {"telnet://bbs_ex@mple/", "ホスト名「bbs_ex@mple」に使えない文字「@」があります"},
      {"telnet://草の根.jp/", "ホスト名「草の根.jp」に使えない文字「草」があります"},
      {"[::1:23", "IPv6 アドレスの ] がありません: 「[::1:23」"},
      {"localhost", "電話番号「localhost」に使えない文字「l」があります (ホスト名なら telnet://名前/ と書きます)"},
      {"tel://03x1234/", "電話番号「03x1234」に使えない文字「x」があります"},
      {"gopher://bbs.example.jp/", "接続先の形式がわかりません: 「gopher://bbs.example.jp/」 (telnet:// ssh:// http:// tel:// のどれかで書きます)"},
      {"ssh://bbs.example.jp", "ssh:// の後にホスト名と / が要ります (例: ssh://taro@bbs.example.jp/)"},
      {"ssh://@bbs.example.jp/", "@ の前にユーザー名がありません: 「ssh://@bbs.example.jp/」"},
      {"ssh://taro!@bbs.example.jp/", "ユーザー名「taro!」に使えない文字「!」があります"},
      {"ssh://taro@/", "ホスト名がありません: 「」"},
      {"ssh://taro@bbs.example.jp:0/", "ポート番号「0」は 1～65535 の数ではありません"},
  };
  for (const auto& [address, problem] : cases) {
    EXPECT_EQ(SjisToUtf8(AddressProblem(Sjis(address))), problem) << address;
  }
}

}  // namespace
}  // namespace brelo
