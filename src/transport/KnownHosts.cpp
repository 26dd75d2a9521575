#include "transport/KnownHosts.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <algorithm>
#include <cerrno>
#include <cctype>
#include <optional>

#include "common/FileUtil.h"

namespace brelo {
namespace {

QByteArray Bytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The first string of an SSH blob (a 32-bit length, then the bytes).
std::string FirstString(const std::string& blob) {
  if (blob.size() < 4) return std::string();
  const auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(blob[i])); };
  const uint32_t n = b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
  if (n == 0 || n > blob.size() - 4) return std::string();
  return blob.substr(4, n);
}

std::optional<std::string> Base64Decoded(const std::string& text) {
  const auto r = QByteArray::fromBase64Encoding(Bytes(text), QByteArray::AbortOnBase64DecodingErrors);
  if (!r) return std::nullopt;
  return r.decoded.toStdString();
}

// OpenSSH's glob: "*" any run of characters, "?" any one.
bool Glob(const char* s, const char* p) {
  for (;; ++s, ++p) {
    if (*p == '\0') return *s == '\0';
    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == '\0') return true;
      for (; *s != '\0'; ++s) {
        if (Glob(s, p)) return true;
      }
      return false;
    }
    if (*s == '\0' || (*p != '?' && *p != *s)) return false;
  }
}

// Whether a line's host field names the host: one hashed name, or a
// pattern list in which a positive pattern matches and no negated one does.
bool HostFieldMatches(const std::string& field, const std::string& name) {
  if (field.rfind("|1|", 0) == 0) {
    const size_t bar = field.find('|', 3);
    if (bar == std::string::npos) return false;
    const auto salt = Base64Decoded(field.substr(3, bar - 3));
    const auto hash = Base64Decoded(field.substr(bar + 1));
    if (!salt || !hash) return false;
    return QMessageAuthenticationCode::hash(Bytes(name), Bytes(*salt), QCryptographicHash::Sha1) == Bytes(*hash);
  }
  bool positive = false;
  size_t from = 0;
  for (;;) {
    const size_t comma = field.find(',', from);
    std::string pattern = Lower(field.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    const bool negated = !pattern.empty() && pattern[0] == '!';
    if (negated) pattern.erase(0, 1);
    if (!pattern.empty() && Glob(name.c_str(), pattern.c_str())) {
      if (negated) return false;
      positive = true;
    }
    if (comma == std::string::npos) return positive;
    from = comma + 1;
  }
}

// A line's fields, split at blanks.
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

}  // namespace

THostKey THostKey::FromBase64(const std::string& base64) {
  THostKey k;
  const auto blob = Base64Decoded(base64);
  if (!blob) return k;
  k.type = FirstString(*blob);
  if (!k.type.empty()) k.blob = *blob;
  return k;
}

std::string THostKey::Base64() const { return Bytes(blob).toBase64().toStdString(); }

std::string THostKey::Fingerprint() const {
  const QByteArray digest = QCryptographicHash::hash(Bytes(blob), QCryptographicHash::Sha256);
  return "SHA256:" + digest.toBase64(QByteArray::OmitTrailingEquals).toStdString();
}

std::string THostKey::Kind() const {
  if (type == "ssh-ed25519") return "ED25519";
  if (type.rfind("ecdsa-sha2-", 0) == 0) return "ECDSA";
  if (type == "ssh-rsa") return "RSA";
  if (type == "ssh-dss") return "DSA";
  return type;
}

std::string KnownHostName(const std::string& host, int port) {
  const std::string name = Lower(host);
  return port == 22 || port == 0 ? name : "[" + name + "]:" + std::to_string(port);
}

namespace {

THostKeyCheck CheckName(const std::vector<std::string>& files, const std::string& name, const THostKey& key) {
  std::optional<TKnownKey> known;
  std::vector<TKnownKey> others;
  for (const std::string& file : files) {
    std::string text;
    try {
      text = ReadWholeFile(file).value_or(std::string());
    } catch (const EInOutError&) {
      continue;  // an unreadable file vouches for nothing
    }
    int lineNo = 0;
    for (const std::string& line : SplitLines(text)) {
      ++lineNo;
      std::vector<std::string> f = Fields(line);
      if (f.empty() || f[0][0] == '#') continue;
      bool revoked = false;
      if (f[0][0] == '@') {
        // Certificate authorities vouch for certificates, which are not used here.
        if (f[0] != "@revoked") continue;
        revoked = true;
        f.erase(f.begin());
      }
      if (f.size() < 3 || !HostFieldMatches(f[0], name)) continue;
      const THostKey recorded = THostKey::FromBase64(f[2]);
      if (recorded.Empty() || recorded.type != f[1]) continue;  // no key OpenSSH would read either
      const TKnownKey entry{recorded, file, lineNo};
      if (recorded == key) {
        if (revoked) return {THostKeyCheck::kRevoked, {entry}};
        if (!known) known = entry;
      } else if (!revoked) {
        others.push_back(entry);
      }
    }
  }
  if (known) return {THostKeyCheck::kKnown, {*known}};
  if (!others.empty()) return {THostKeyCheck::kChanged, others};
  return {THostKeyCheck::kUnknown, {}};
}

}  // namespace

THostKeyCheck CheckHostKey(const std::vector<std::string>& files, const std::string& host, int port,
                           const THostKey& key) {
  const THostKeyCheck check = CheckName(files, KnownHostName(host, port), key);
  if (check.verdict == THostKeyCheck::kUnknown && KnownHostName(host, port) != KnownHostName(host, 22)) {
    if (THostKeyCheck bare = CheckName(files, KnownHostName(host, 22), key); bare.verdict == THostKeyCheck::kKnown) {
      return bare;
    }
  }
  return check;
}

int RecordHostKey(const std::string& file, const std::string& host, int port, const THostKey& key) {
  std::string before;
  try {
    before = ReadWholeFile(file).value_or(std::string());
  } catch (const EInOutError&) {
    return EACCES;
  }
  std::string line = KnownHostName(host, port) + " " + key.type + " " + key.Base64() + "\n";
  if (!before.empty() && before.back() != '\n') line.insert(0, "\n");
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int err = n == static_cast<ssize_t>(line.size()) ? 0 : (n < 0 ? errno : EIO);
  if (::fsync(fd) != 0 && err == 0) {
    const int syncErr = errno;
    ::close(fd);
    return syncErr;
  }
  if (::close(fd) != 0 && err == 0) return errno;
  return err;
}

}  // namespace brelo
