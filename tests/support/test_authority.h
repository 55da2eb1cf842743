#pragma once
// A throw-away certificate authority made with openssl at test time, and
// server certificates issued by it (good, for another name, or expired).

#include <optional>
#include <string>

#include "support/nginx_server.h"

class TestAuthority {
 public:
  // Makes the authority's key and self-signed certificate in dir.
  explicit TestAuthority(const std::string& dir);

  bool ok() const { return ok_; }
  // The authority's certificate (PEM): what CURL_CA_BUNDLE or SSL_CERT_FILE
  // names so that its certificates verify.
  std::string certificate() const { return dir_ + "/ca.crt"; }

  // The authority's certificate as a Windows certificate store files it:
  // encoded (DER), under its SHA-1 thumbprint in upper-case hex.
  struct StoreEntry {
    std::string der;
    std::string thumbprint;
  };
  std::optional<StoreEntry> ForCertificateStore() const;

  // A server certificate and key named name (files name.crt, name.key),
  // valid for the subject alternative names san ("IP:127.0.0.1",
  // "DNS:other.invalid"), and already expired when asked; nullopt on failure.
  std::optional<TlsFiles> Issue(const std::string& name, const std::string& san,
                                bool expired = false) const;

 private:
  std::string dir_;
  bool ok_ = false;
};
