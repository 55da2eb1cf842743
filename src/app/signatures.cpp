#include "app/signatures.h"

#include <ostream>
#include <vector>

#include "app/display.h"
#include "app/file_entries.h"
#include "app/names.h"
#include "app/transfer.h"
#include "app/update_list.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

#ifndef TVQ_PUBLIC_KEY
#define TVQ_PUBLIC_KEY ""
#endif

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

// The text of storedName.minisig on the site; empty when there is none.
std::string FetchSignatureText(const RunContext& context, const std::string& storedName) {
  const std::string sigName = storedName + kSignatureSuffix;
  if (IsLocalSite(context))
    return ReadFileBounded(StripFileScheme(context.site + sigName), kSignatureFileMaxBytes).value_or("");
  const std::string target = AddBackslash(WorkDirectory()) + "." + sigName;
  // The clean-up of the work directory passes over hidden names: whatever an
  // interrupted run left here goes before the fetch.
  DeleteFileChecked(target);
  FetchFile(context.site + UrlPathOfName(sigName), target, false, kSignatureFileMaxBytes);
  std::string text = ReadFileBounded(target, kSignatureFileMaxBytes).value_or("");
  DeleteFileChecked(target);
  return text;
}

}  // namespace

std::string TrustedKeysText() {
  const std::string built = TVQ_PUBLIC_KEY;
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
  if (!NamesAKey(keysText)) return true;
  std::vector<std::string> problems;
  const std::vector<MinisignPublicKey> keys = ParsePublicKeys(keysText, &problems);
  for (const std::string& p : problems) StdText() << " trusted public key refused: " << p << std::endl;
  SignatureVerdict verdict = VerifyFileSignature(FetchSignatureText(context, storedName), path, keys,
                                                 storedName, prehash);
  // Fail closed: a mistyped key must not switch the checks off.
  if (keys.empty() && verdict.check == SignatureCheck::UnknownKey)
    verdict.detail = "no valid trusted public key is configured";
  if (verdict.Ok()) return true;
  Report(storedName, verdict);
  return false;
}

std::string LocalListToRead(const std::string& siteListPath) {
  if (!SignaturesRequired()) return siteListPath;
  const std::string copy = AddBackslash(WorkDirectory()) + kUpdateListName;
  // The copy is bounded as the list itself is: only an ordinary file is
  // copied, and one that grows without end stops a block past the list's cap.
  // A failed copy leaves nothing to read: the list then counts as missing.
  constexpr std::int64_t kMaxBlocks =
      kMaxUpdateListBytes / static_cast<std::int64_t>(kCopyBufferSize) + 1;
  std::int64_t blocks = 0;
  const auto pastTheCap = [&] { return ++blocks > kMaxBlocks; };
  if (!os::StatTarget(siteListPath).isRegular ||
      !CopyFileBuffered(siteListPath, copy, false, kCopyBufferSize, pastTheCap))
    DeleteFileChecked(copy);
  return copy;
}
