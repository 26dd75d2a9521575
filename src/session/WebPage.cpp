#include "session/WebPage.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

// One fetch, shared by the waiting thread and the main thread's handlers.
struct TFetch {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  TWebPage page;
  QPointer<QNetworkReply> reply;  // main thread only
  bool cancelled = false;         // main thread only
  bool tooLarge = false;          // main thread only
  bool whole = false;             // main thread only: the page is complete before the reply ends
  std::string body;               // main thread only: the page as it arrives
};

// The end of an HTML page: "</HTML>" in any case.
bool HtmlEnds(const std::string& body) {
  static const std::string kEnd = "</html>";
  const auto it = std::search(body.begin(), body.end(), kEnd.begin(), kEnd.end(),
                              [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  return it != body.end();
}

std::string Text(const QString& s) { return QStringToSjis(s).bytes; }

// Why a reply has no page, in the user's words.
std::string Reason(QNetworkReply* r, const TFetch& f) {
  const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  switch (r->error()) {
    case QNetworkReply::ConnectionRefusedError: return Sjis("接続を拒否されました");
    case QNetworkReply::HostNotFoundError: return Sjis("ホストが見つかりません");
    case QNetworkReply::TimeoutError: return Sjis("応答がありません");
    case QNetworkReply::OperationCanceledError:
      if (f.tooLarge) return Sjis("ページが大きすぎます");
      if (f.cancelled) return Sjis("中止しました");
      return Sjis("30 秒間応答がありません");  // the transfer time-out
    case QNetworkReply::TooManyRedirectsError: return Sjis("転送が 5 回を超えました");
    case QNetworkReply::InsecureRedirectError: return Sjis("https から http への転送は行いません");
    case QNetworkReply::SslHandshakeFailedError:
      return Sjis("TLS の接続を確立できません: ") + Text(r->errorString());
    default:
      break;
  }
  if (status > 0) {
    return "HTTP " + std::to_string(status) + " " +
           Text(r->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
  }
  return Text(r->errorString());
}

// Runs on the main thread: starts the request and answers the waiting thread
// when it ends.
void Start(const std::shared_ptr<TFetch>& f, const std::string& url) {
  static QPointer<QNetworkAccessManager> manager;
  if (!manager) {
    manager = new QNetworkAccessManager(QCoreApplication::instance());
    // Gone while the application still is: its network thread otherwise
    // closes its connections after Qt's TLS has been unloaded.
    qAddPostRoutine([] { delete manager.data(); });
  }
  QNetworkRequest req(QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::StrictMode));
  req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  req.setMaximumRedirectsAllowed(kWebMaxRedirects);
  req.setTransferTimeout(kWebTimeoutMs);
  QNetworkReply* r = manager->get(req);
  f->reply = r;
  QObject::connect(r, &QNetworkReply::downloadProgress, r, [r, f](qint64 received, qint64) {
    if (received > kWebMaxPageBytes) {
      f->tooLarge = true;
      r->abort();
    }
  });
  const auto answer = [f](TWebPage page) {
    {
      std::lock_guard<std::mutex> lk(f->m);
      f->page = std::move(page);
      f->done = true;
    }
    f->cv.notify_all();
  };
  // The page is read as it arrives: a server that ends its page with TLS's
  // close_notify and keeps the connection open never ends the reply, so the
  // end of the HTML ends the page.
  QObject::connect(r, &QNetworkReply::readyRead, r, [r, f, answer] {
    if (f->whole) return;
    f->body += r->readAll().toStdString();
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 200 && HtmlEnds(f->body)) {
      f->whole = true;
      TWebPage page;
      page.ok = true;
      page.body = std::move(f->body);
      answer(std::move(page));
      r->abort();
    }
  });
  QObject::connect(r, &QNetworkReply::finished, r, [r, f, answer] {
    r->deleteLater();
    if (f->whole) return;  // answered already
    TWebPage page;
    if (r->error() == QNetworkReply::NoError) {
      page.ok = true;
      page.body = std::move(f->body) + r->readAll().toStdString();
    } else {
      page.error = Reason(r, *f);
    }
    answer(std::move(page));
  });
}

}  // namespace

TWebPage FetchWebPage(const std::string& url, const std::function<bool()>& cancelled) {
  TWebPage none;
  if (QCoreApplication::instance() == nullptr) {
    none.error = Sjis("ネットワークを使えません");
    return none;
  }
  auto f = std::make_shared<TFetch>();
  PostToMain([f, url] { Start(f, url); });
  std::unique_lock<std::mutex> lk(f->m);
  while (!f->done) {
    f->cv.wait_for(lk, std::chrono::milliseconds(100));
    if (!f->done && cancelled()) {
      // The main thread may be waiting for this thread: do not wait for it.
      PostToMain([f] {
        f->cancelled = true;
        if (f->reply) f->reply->abort();
      });
      none.error = Sjis("中止しました");
      return none;
    }
  }
  return std::move(f->page);
}

std::string EncodeUrl(const std::string& scheme, const std::string& host, const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = scheme + "://" + host + "/";
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
        c == '{' || c == '|' || c == '}') {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    } else {
      url += static_cast<char>(c);
    }
  }
  return url;
}

bool FindPageAddress(const std::string& page, std::string& hostPort) {
  size_t start = 0;
  while (start < page.size()) {
    size_t end = page.find_first_of("\r\n", start);
    if (end == std::string::npos) end = page.size();
    const std::string_view head = std::string_view(page).substr(start, std::min<size_t>(end - start, 120));
    if (head.find("</HTML>") != std::string_view::npos) return false;
    if (head.find("telnet://") != std::string_view::npos) {
      const std::string line = page.substr(start, end - start);
      const std::string after = SafeCopy(line, SafePos("://", line) + 3, 99);
      const int slash = SafePos("/", after);
      hostPort = slash > 0 ? SafeCopy(after, 1, slash - 1) : after;
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace brelo
