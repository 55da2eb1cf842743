#pragma once
// Signed updates in the run. When the installation trusts a public key (the
// build's TVQ_PUBLIC_KEY, else the setting LiveUpdate.publicKey, one or more
// keys separated by ';'), every reading of the update list and every
// downloaded file must come with a minisign signature NAME.minisig beside it
// on the site that verifies against one of the keys. Without a key nothing
// is fetched or checked. Signature files are read into the work directory
// (under hidden names, which no listed file has and the installation passes
// over) and removed once checked.

#include <cstdint>
#include <memory>
#include <string>

#include "app/minisign.h"
#include "app/run_context.h"
#include "app/transfer.h"
#include "platform/signature.h"

inline constexpr const char* kSignatureSuffix = ".minisig";

// The trusted keys as configured: the build's key when it has one, else the
// setting; empty when the installation uses no signatures.
std::string TrustedKeysText();
bool SignaturesRequired();

// Hashes a download as the transfer writes it, when signatures are
// required, so that its check needs no second read of the file: the hash
// overlaps with the waits of the transfer.
class DownloadDigest {
 public:
  // The tap to give FetchFile (an empty one when no key is configured).
  TransferTap Tap();
  // The BLAKE2b-512 of the bytes written, when the method that wrote the
  // file showed every block and they add up to size; else empty.
  std::string DigestOf(std::int64_t size);

 private:
  std::unique_ptr<crypto::Blake2b> hasher_;
  bool observed_ = false;
  std::int64_t bytes_ = 0;
};

// Checks the signature of a file of the site (storedName: the name on the
// site, with its '~') that lies at path: fetches storedName.minisig with the
// transfer chain (or reads it from a file:// site) and verifies path's bytes
// against it (digest: what the download hashed on its way, when it stands
// for the file). On failure logs which file failed and why (missing,
// malformed, unknown key, no match) and shows it as the status. True when
// the signature holds, and always when no key is configured.
bool SiteFileSignatureHolds(const RunContext& context, const std::string& storedName,
                            const std::string& path, DownloadDigest* digest = nullptr);

// The update list of a file:// site to read: without keys the site's file
// itself; with keys a private copy in the work directory, so that the bytes
// checked are the bytes read.
std::string LocalListToRead(const std::string& siteListPath);

