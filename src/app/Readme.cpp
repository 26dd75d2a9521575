#include "app/Readme.h"

#include "common/FileUtil.h"
#include "common/Sjis.h"

namespace brelo {
namespace {
// Written in Shift-JIS with CR LF, like every other file of the program.
const char kReadme[] = R"(Brelo ― Vesko・KTBBS 系 BBS の自動巡回・オフラインリーダー
======================================================================

■ できること
  ・登録したホストに telnet（またはモデム）で接続し、ログイン、未読メッセージと
    メールの拾得、予約した書き込み・メールの実行、ログアウトまでを自動で行います。
  ・拾得したメッセージは「アーティクルブラウザ」でスレッド表示して読めます。
    「Ｎ」ボタンは新着、「未」ボタンは未読のメッセージに印を付けます。
    ▲▼ (Ctrl+↑/↓) で印の付いたメッセージを順にたどれます。
  ・「レス」「新規」（アクション メニュー）で書き込みを作り、「書き込み予約箱」に
    予約します。次の接続で自動的に書き込まれます。

■ はじめかた
  1. 上の「ホスト :」からホストを選びます。初回は練習用の「デモ草の根ネット」が
     入っています（127.0.0.1:2323 のデモホスト）。
  2. 「接続/強制切断」を押すと巡回が始まり、ターミナル ページに画面が流れます。
  3. ログアウトすると、アーティクルブラウザでメッセージを読めます。

■ ホストの登録
  「追加・削除」で新しいホストを追加し、「ﾌﾟﾛﾊﾟﾃｨ」で接続先・ID・パスワード・
  ハンドル・ホスト種類を設定します。接続先の書き方:
    telnet://ホスト名/        telnet で接続（telnet://ホスト名:ポート/ も可）
    http://サーバ/ページ       ページに書かれた telnet:// のアドレスへ接続
    tel://電話番号/            モデムで電話をかける（設定→モデム設定）

■ 設定
  設定 メニュー: ヘッダ・フッダの雛形、モデム、引用符、外部エディタ。
  ターミナル･オプション ページ: 巡回で何をするか（ユーザーリスト拾得、
  書き込み予約の実行、未読拾得、ログアウト）。

■ コマンドラインから
  brelo --pilot ホスト名   ウィンドウなしで一回巡回します（cron などに）。
  brelo --help             そのほかの使い方。

このフォルダに、設定 (Brelo_V3.ini)、ホスト一覧 (veskohosts.dat)、
モデム設定 (Modem.Ini)、雛形 (H0/F0/H1/F1.TXT) と、ホストごとのデータが置かれます。
このフォルダは --home で指定したフォルダ、環境変数 BRELO_HOME、プログラムの横に
brelo.portable というファイルがあればプログラムのフォルダ、どれでもなければ
~/.local/share/brelo ($XDG_DATA_HOME/brelo) です。
)";
}  // namespace

std::string ReadmeText() { return JoinLinesCRLF(SplitLines(Sjis(kReadme))); }

void EnsureReadme(const std::string& programFolder) {
  const std::string path = JoinPath(programFolder, "readme.TXT");
  if (FileExists(path)) {
    // One written in UTF-8 by an earlier version is written again.
    try {
      const std::optional<std::string> old = ReadWholeFile(path);
      bool ascii = true;
      if (old) for (unsigned char c : *old) ascii = ascii && c < 0x80;
      if (!old || ascii || !IsValidUtf8(*old)) return;
    } catch (const EInOutError&) {
      return;
    }
  }
  try {
    WriteFileAtomic(path, ReadmeText());
  } catch (const EInOutError&) {
    // Without a readme the program works all the same.
  }
}

}  // namespace brelo
