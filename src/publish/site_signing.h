#pragma once
// Signing a site as the publisher does: the secret key and its password,
// one signature file per listed file and one for the list, and what a signed
// list already binds (its channel and expiry), so that a change of the site
// keeps it signed as it was.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/fetch/minisign.h"
#include "publish/minisign_signing.h"
#include "app/list/list_binding.h"
#include "platform/status.h"

// Writes text beside path, flushed, and renames it over path, so a reader
// of the site sees the old text or the new one; the cause when it fails.
Status ReplaceFileText(const std::string& path, const std::string& text);

// The signing password: TVQ_SIGN_PASSWORD, else asked on the terminal (twice
// when confirm is set). nullopt with why when neither gives one.
std::optional<std::string> SigningPassword(bool confirm, std::string* why);

// Reads a secret key file, asking for its password when it is encrypted.
std::optional<MinisignSecretKey> LoadSigningKey(const std::string& path, std::string* why);

// Writes NAME.minisig beside the file dir/name, replacing an older one in one step.
Status WriteSignature(const MinisignSecretKey& key, const std::string& dir, const std::string& name,
                      const ListBinding& binding = {});

// Whether the site's list has a signature file.
bool SiteListIsSigned(const std::string& siteDir);

// What the site's list signature binds: its channel and expiry (empty when
// the list has no readable signature).
ListBinding CurrentListBinding(const std::string& siteDir);

// How long the list's signature is valid for, from its signing time to its
// expiry: nullopt when it does not say.
std::optional<std::int64_t> ListSignatureLifetime(const std::string& trustedComment);

// Removes the signature files of the named files, of the record and of the list.
void RemoveSignatures(const std::string& siteDir, const std::vector<std::string>& names);
