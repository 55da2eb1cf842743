#include "app/fetch/signatures.h"

#include <ostream>
#include <vector>

#include "app/context/display.h"
#include "app/context/names.h"
#include "app/fetch/side_files.h"
#include "app/list/file_entries.h"
#include "app/list/list_binding.h"
#include "app/list/update_list.h"
#include "app/run/build_info.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

// A signature file is four short lines; anything much larger is not one.
constexpr std::int64_t kSignatureFileMaxBytes = 8 * 1024;

std::string ReasonText(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Missing:
      return LangText("G:fehlt;F:absente;*:missing");
    case SignatureCheck::Malformed:
      return LangText("G:fehlerhaft;F:mal formée;*:malformed");
    case SignatureCheck::UnknownKey:
      return LangText("G:mit unbekanntem Schlüssel erstellt;F:faite avec une clé inconnue;"
                      "*:made with an unknown key");
    case SignatureCheck::TooLarge:
      return LangText("G:zu groß;F:trop grande;*:too large");
    case SignatureCheck::Unreadable:
      return LangText("G:nicht lesbar;F:illisible;*:unreadable");
    default:
      return LangText("G:stimmt nicht;F:ne correspond pas;*:does not match");
  }
}

void Report(const std::string& storedName, const SignatureVerdict& verdict) {
  // The name comes from the site: shown without its control characters.
  const std::string shown = ControlsReplaced(storedName);
  StdText() << " signature of \"" << shown << "\": " << SignatureCheckText(verdict.check) << " ("
            << verdict.detail << ")" << std::endl;
  // The name goes outside the tagged text: a ';' in it must not split it.
  ShowStatus(LangText("G:Signatur von;F:signature de;*:signature of") + " " + shown + ": " +
             ReasonText(verdict.check));
}

// storedName.minisig of the site, or why it could not be had.
SideFile FetchSignature(const RunContext& context, const std::string& storedName) {
  return FetchSideFile(context, storedName + kSignatureSuffix, kSignatureFileMaxBytes);
}

SignatureCheck CheckOf(SideFile::Problem problem) {
  switch (problem) {
    case SideFile::Problem::TooLarge:
      return SignatureCheck::TooLarge;
    case SideFile::Problem::Unreadable:
      return SignatureCheck::Unreadable;
    default:
      return SignatureCheck::Missing;
  }
}

// The verdict on the signature of a file of the site, reported when it fails.
// prehash: the file's BLAKE2b-512, taken as it was written, when known.
SignatureVerdict CheckSiteFile(const RunContext& context, const std::string& storedName, const std::string& path,
                               const std::string& keysText, const std::string* prehash = nullptr) {
  std::vector<std::string> problems;
  const std::vector<MinisignPublicKey> keys = ParsePublicKeys(keysText, &problems);
  for (const std::string& p : problems) StdText() << " trusted public key refused: " << p << std::endl;
  const SideFile file = FetchSignature(context, storedName);
  SignatureVerdict verdict;
  if (file.problem != SideFile::Problem::None) {
    verdict.check = CheckOf(file.problem);
    verdict.detail = file.detail;
  } else {
    verdict = VerifyFileSignature(file.text, path, keys, storedName, prehash);
  }
  // Fail closed: a mistyped key must not switch the checks off.
  if (keys.empty() && verdict.check == SignatureCheck::UnknownKey)
    verdict.detail = "no valid trusted public key is configured";
  if (!verdict.Ok()) Report(storedName, verdict);
  return verdict;
}

}  // namespace

std::string TrustedKeysText() {
  const std::string built = BuiltInKeysText();
  if (!built.empty()) return built;
  // The program starts the store first thing; parts used without it (the
  // publisher's tool, benchmarks) have no setting to read.
  return CfgInitialised() ? CfgGetStr("LiveUpdate.publicKey=") : std::string();
}

namespace {

// Whether a keys text names anything (a mistyped key counts: see below).
bool NamesAKey(const std::string& keysText) {
  for (char c : keysText)
    if (static_cast<unsigned char>(c) > 32 && c != ';') return true;
  return false;
}

}  // namespace

bool SignaturesRequired() {
  return NamesAKey(TrustedKeysText());
}

bool SiteFileSignatureHolds(const RunContext& context, const std::string& storedName,
                            const std::string& path, const std::string* prehash) {
  const std::string keysText = TrustedKeysText();
  return !NamesAKey(keysText) || CheckSiteFile(context, storedName, path, keysText, prehash).Ok();
}

std::string InstallationChannel() {
  const std::string built = BuiltInChannel();
  if (!built.empty()) return built;
  return CfgInitialised() ? CfgGetStr("LiveUpdate.channel=") : std::string();
}

std::string SignatureCheckingText() {
  const std::string keysText = TrustedKeysText();
  if (!NamesAKey(keysText)) return "signatures: not checked (no public key is configured)";
  std::vector<std::string> problems;
  std::string ids;
  for (const MinisignPublicKey& key : ParsePublicKeys(keysText, &problems))
    ids += (ids.empty() ? "" : ", ") + KeyIdText(key.keyId) + (key.legacyAllowed ? " (legacy form allowed)" : "");
  const std::string from = BuiltInKeysText().empty() ? "the setting LiveUpdate.publicKey" : "the build";
  std::string text = "signatures: checked with key " + (ids.empty() ? std::string("(none readable)") : ids) +
                     " from " + from;
  if (!problems.empty()) text += "; unreadable: " + ControlsReplaced(problems.front());
  const std::string channel = InstallationChannel();
  return text + (channel.empty() ? "; no channel" : "; channel " + ControlsReplaced(channel));
}

std::string ListSignatureProblem(const RunContext& context, const std::string& path) {
  const std::string keysText = TrustedKeysText();
  if (!NamesAKey(keysText)) return {};
  const SignatureVerdict verdict = CheckSiteFile(context, kUpdateListName, path, keysText);
  if (!verdict.Ok()) return "the list's signature does not hold";
  std::string problem = ListBindingProblem(verdict.trustedComment, InstallationChannel(), os::WallTimeSeconds());
  if (!problem.empty()) ShowStatus(ControlsReplaced(problem));
  return problem;
}

std::string LocalListToRead(const std::string& siteListPath) {
  if (!SignaturesRequired()) return siteListPath;
  const std::string copy = WithTrailingDelimiter(WorkDirectory()) + kUpdateListName;
  // The copy is bounded as the list itself is: only an ordinary file is
  // copied, and one that grows without end stops a block past the list's cap.
  // A failed copy leaves nothing to read: the list then counts as missing.
  constexpr std::int64_t kMaxBlocks =
      kMaxUpdateListBytes / static_cast<std::int64_t>(kCopyBufferSize) + 1;
  std::int64_t blocks = 0;
  const auto pastTheCap = [&] { return ++blocks > kMaxBlocks; };
  if (!os::StatTarget(siteListPath).isRegular) {
    DeleteFileChecked(copy);
    return copy;
  }
  if (Status copied = CopyFileBuffered(siteListPath, copy, false, kCopyBufferSize, pastTheCap);
      !copied.ok()) {
    StdText() << "cannot copy the update list: " << copied.message() << std::endl;
    DeleteFileChecked(copy);
  }
  return copy;
}
