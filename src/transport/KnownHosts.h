// Host keys as OpenSSH keeps them: known_hosts files, one key a line
// ("[@revoked] HOSTS TYPE BASE64 [COMMENT]"), HOSTS a comma-separated list
// of patterns ("*" and "?" as wildcards, "!" to exclude, "[name]:port" for a
// port other than 22) or one name hashed ("|1|salt|hash", HMAC-SHA1).
//
// A key is known when a line for the host holds it; it has changed when
// lines for the host hold other keys of its type and none holds it (a key
// of a type nobody recorded for the host is new, as OpenSSH takes it); a
// line marked @revoked that holds it refuses it everywhere.
#pragma once

#include <string>
#include <vector>

namespace brelo {

// A server's public key as SSH carries it.
struct THostKey {
  std::string type;  // the key's type name: "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa", ...
  std::string blob;  // the key's bytes on the wire (its type name first)

  bool operator==(const THostKey&) const = default;
  bool Empty() const { return blob.empty(); }
  // The key of a known_hosts (or .pub) line's base64 field; empty when the
  // field is no key.
  static THostKey FromBase64(const std::string& base64);
  std::string Base64() const;
  // "SHA256:" and the unpadded base64 of the blob's SHA-256: the fingerprint
  // OpenSSH shows.
  std::string Fingerprint() const;
  // The key's family as OpenSSH names it in its messages: ED25519, ECDSA,
  // RSA, DSA; other types by their type name.
  std::string Kind() const;
  // Kind and fingerprint: "ED25519 SHA256:...".
  std::string Description() const { return Kind() + " " + Fingerprint(); }
};

// A key a known_hosts file holds for a host, and where.
struct TKnownKey {
  THostKey key;
  std::string file;
  int line = 0;
};

struct THostKeyCheck {
  enum EVerdict { kKnown, kUnknown, kChanged, kRevoked } verdict = kUnknown;
  // kKnown, kRevoked: the line that decided. kChanged: the other keys
  // recorded for the host, of whatever type (as OpenSSH takes them: a
  // server that shows another type than the one recorded has changed its
  // key). kUnknown: none.
  std::vector<TKnownKey> recorded;
};

// The host as a known_hosts line names it: lower-case, "[name]:port" for a
// port other than 22.
std::string KnownHostName(const std::string& host, int port);

// What the files say of host's key, read in order; a file that does not
// exist or cannot be read says nothing. On a port other than 22 nothing
// recorded for "[host]:port" lets a key recorded for the host's name alone
// vouch for it (as OpenSSH lets it), never refuse it.
THostKeyCheck CheckHostKey(const std::vector<std::string>& files, const std::string& host, int port,
                           const THostKey& key);

// Appends the host's key to file as OpenSSH writes it (the file and a
// missing last line break made as needed; a new file readable by its owner
// only). 0 on success, else the errno.
int RecordHostKey(const std::string& file, const std::string& host, int port, const THostKey& key);

}  // namespace brelo
