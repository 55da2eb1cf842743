#include "support/test_authority.h"

#include <cctype>
#include <utility>

#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";

// What openssl printed; nullopt when it failed.
std::optional<std::string> OpensslOutput(const std::string& dir, std::vector<std::string> args) {
  ProcessOptions o;
  o.argv = {kOpenssl};
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.workDir = dir;
  o.timeoutSeconds = 60;
  ProcessResult run = RunProcess(o);
  if (run.exitCode != 0) return std::nullopt;
  return std::move(run.out);
}

bool Openssl(const std::string& dir, std::vector<std::string> args) {
  return OpensslOutput(dir, std::move(args)).has_value();
}

// EC keys: made in milliseconds, where RSA keys take seconds on a busy machine.
std::vector<std::string> NewKey(const std::string& keyFile) {
  return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
          "-keyout", keyFile};
}

}  // namespace

TestAuthority::TestAuthority(const std::string& dir) : dir_(dir) {
  std::vector<std::string> args = {"req", "-x509"};
  for (auto& a : NewKey("ca.key")) args.push_back(a);
  for (const char* a : {"-out", "ca.crt", "-days", "2", "-subj", "/CN=TVQ throw-away test authority",
                        "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                        "keyUsage=critical,keyCertSign,cRLSign"})
    args.push_back(a);
  ok_ = Openssl(dir_, args);
}

std::optional<TlsFiles> TestAuthority::Issue(const std::string& name, const std::string& san,
                                             bool expired) const {
  if (!ok_) return std::nullopt;
  TlsFiles files{dir_ + "/" + name + ".crt", dir_ + "/" + name + ".key"};
  std::vector<std::string> request = {"req"};
  for (auto& a : NewKey(files.key)) request.push_back(a);
  request.insert(request.end(), {"-out", name + ".csr", "-subj", "/CN=" + name});
  WriteFile(dir_ + "/" + name + ".ext", "subjectAltName=" + san + "\n");
  // A negative lifetime puts the end of validity a day before its start.
  if (!Openssl(dir_, request) ||
      !Openssl(dir_, {"x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                      "-CAcreateserial", "-out", files.certificate, "-days", expired ? "-1" : "2",
                      "-extfile", name + ".ext"}))
    return std::nullopt;
  return files;
}

std::optional<TestAuthority::StoreEntry> TestAuthority::ForCertificateStore() const {
  // "sha1 Fingerprint=BF:CD:...:9E"
  const std::optional<std::string> fingerprint =
      OpensslOutput(dir_, {"x509", "-in", "ca.crt", "-noout", "-fingerprint", "-sha1"});
  if (!ok_ || !fingerprint || !Openssl(dir_, {"x509", "-in", "ca.crt", "-outform", "DER", "-out", "ca.der"}))
    return std::nullopt;
  StoreEntry entry{ReadFile(dir_ + "/ca.der"), {}};
  for (char c : fingerprint->substr(fingerprint->find('=') + 1))
    if (std::isxdigit(static_cast<unsigned char>(c))) entry.thumbprint += static_cast<char>(std::toupper(c));
  if (entry.der.empty() || entry.thumbprint.size() != 40) return std::nullopt;
  return entry;
}
