#include "publish/site_signing.h"

#include "app/fetch/signatures.h"
#include "app/list/site_record.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr const char* kSignatureComment = "signature from tvqpublish secret key";
constexpr std::int64_t kMaxKeyFileBytes = 64 * 1024;


std::string ListSignaturePath(const std::string& siteDir) {
  return WithTrailingDelimiter(siteDir) + kUpdateListName + kSignatureSuffix;
}

std::optional<std::string> ListTrustedCommentOf(const std::string& siteDir) {
  const auto text = ReadFileBounded(ListSignaturePath(siteDir), kMaxKeyFileBytes);
  const auto sig = text ? ParseSignature(*text) : std::nullopt;
  if (!sig) return std::nullopt;
  return sig->trustedComment;
}

}  // namespace

Status ReplaceFileText(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  StatusOr<os::File> file = os::File::Open(temp, os::OpenFor::CreateTruncate);
  Status written = file.status();
  if (written.ok()) written = file->Write(text.data(), text.size());
  if (written.ok()) written = file->Sync();
  if (written.ok()) written = file->Close();
  if (written.ok()) written = os::RenameReplace(temp, path);
  if (written.ok()) return written;
  if (file) file->Close();  // Windows deletes no open file
  os::RemoveFile(temp);
  return Status::Failed("cannot write " + path, written);
}

std::optional<std::string> SigningPassword(bool confirm, std::string* why) {
  if (auto fromEnv = os::GetEnvVar("TVQ_SIGN_PASSWORD")) return fromEnv;
  auto first = os::ReadSecretLine("Password for the signing key: ");
  if (!first) *why = "no password: set TVQ_SIGN_PASSWORD or run on a terminal";
  if (!first || !confirm) return first;
  auto second = os::ReadSecretLine("Password (again): ");
  if (!second || *second != *first) {
    *why = "the passwords differ";
    return std::nullopt;
  }
  return first;
}

std::optional<MinisignSecretKey> LoadSigningKey(const std::string& path, std::string* why) {
  auto text = ReadFileBounded(path, kMaxKeyFileBytes);
  if (!text) {
    *why = path + ": cannot be read";
    return std::nullopt;
  }
  std::optional<std::string> password;
  if (SecretKeyIsEncrypted(*text)) {
    password = SigningPassword(false, why);
    if (!password) {
      *why = path + " is encrypted: set TVQ_SIGN_PASSWORD or run on a terminal";
      return std::nullopt;
    }
  }
  auto key = ParseSecretKey(*text, password, why);
  if (!key) *why = path + ": " + *why;
  return key;
}

Status WriteSignature(const MinisignSecretKey& key, const std::string& dir, const std::string& name,
                      const ListBinding& binding) {
  const std::string path = WithTrailingDelimiter(dir) + name;
  const auto sig = SignFile(key, path, ListTrustedComment(name, os::WallTimeSeconds(), binding));
  if (!sig) return Status::Error("cannot sign " + path);
  return ReplaceFileText(path + kSignatureSuffix, SignatureFileText(*sig, kSignatureComment));
}

bool SiteListIsSigned(const std::string& siteDir) { return os::FileExists(ListSignaturePath(siteDir)); }

ListBinding CurrentListBinding(const std::string& siteDir) {
  ListBinding binding;
  const auto comment = ListTrustedCommentOf(siteDir);
  if (!comment) return binding;
  binding.channel = TrustedCommentField(*comment, "channel").value_or("");
  binding.expires = ListExpiry(*comment);
  return binding;
}

std::optional<std::int64_t> ListSignatureLifetime(const std::string& trustedComment) {
  const auto expires = ListExpiry(trustedComment);
  const auto signedAt = TrustedCommentField(trustedComment, "timestamp");
  if (!expires || !signedAt) return std::nullopt;
  const std::int64_t at = IntValDef(*signedAt, -1);
  if (at < 0 || at >= *expires) return std::nullopt;
  return *expires - at;
}

void RemoveSignatures(const std::string& siteDir, const std::vector<std::string>& names) {
  for (const std::string& name : names) os::RemoveFile(WithTrailingDelimiter(siteDir) + name + kSignatureSuffix);
  os::RemoveFile(WithTrailingDelimiter(siteDir) + kSiteRecordName + kSignatureSuffix);
  os::RemoveFile(ListSignaturePath(siteDir));
}
