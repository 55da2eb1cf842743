#pragma once
// Signed updates in the run. When the installation trusts a public key (the
// build's TVQ_PUBLIC_KEY, else the setting LiveUpdate.publicKey, one or more
// keys separated by ';'), every reading of the update list and every
// downloaded file must come with a minisign signature NAME.minisig beside it
// on the site that verifies against one of the keys. Without a key nothing
// is fetched or checked. A list's signature may also bind it to a channel
// and an expiry (see list_binding.h). Signature files are read into the work directory
// (under hidden names, which no listed file has and the installation passes
// over) and removed once checked.

#include <string>

#include "app/context/run_context.h"
#include "app/fetch/minisign.h"

inline constexpr const char* kSignatureSuffix = ".minisig";

// The trusted keys as configured: the build's key when it has one, else the
// setting; empty when the installation uses no signatures.
std::string TrustedKeysText();
bool SignaturesRequired();

// Checks the signature of a file of the site (storedName: the name on the
// site, with its '~') that lies at path: fetches storedName.minisig with the
// transfer chain (or reads it from a file:// site) and verifies path's bytes
// against it. On failure logs which file failed and why (missing,
// malformed, unknown key, no match) and shows it as the status. True when
// the signature holds, and always when no key is configured. prehash, when
// given, is the BLAKE2b-512 digest of path's bytes computed as they were
// written: a prehashed signature is then checked without reading the file.
bool SiteFileSignatureHolds(const RunContext& context, const std::string& storedName,
                            const std::string& path, const std::string* prehash = nullptr);

// The channel this installation follows: the build's TVQ_CHANNEL when it has
// one, else the setting LiveUpdate.channel; empty when none.
std::string InstallationChannel();

// One line for the run's account that says whether signatures are checked,
// with which keys (their IDs, and where they come from) and for which
// channel, so that a setting that turned them off shows in every run.
std::string SignatureCheckingText();

// Checks the list's signature (path: the list as read) as
// SiteFileSignatureHolds does, and then what it binds: the channel, when the
// installation follows one, and the expiry. Returns why the list may not be
// used (shown as the status when it is the binding), empty when it may and
// always when no key is configured.
std::string ListSignatureProblem(const RunContext& context, const std::string& path);

// The update list of a file:// site to read: without keys the site's file
// itself; with keys a private copy in the work directory, so that the bytes
// checked are the bytes read.
std::string LocalListToRead(const std::string& siteListPath);
