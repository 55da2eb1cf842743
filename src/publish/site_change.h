#pragma once
// Puts an edit of the update list into a site directory in the order that
// keeps the site usable at every moment: the new files first, then their
// signatures, then the list and its signature, and only then the removal of
// what no update lists any more. Withdrawn updates are remembered beside
// the list, so that no later update takes an identifier that sorts before
// one that installations may have recorded.

#include <string>
#include <vector>

#include "app/list_binding.h"
#include "app/minisign.h"
#include "platform/status.h"
#include "publish/site_edit.h"

inline constexpr const char* kWithdrawnListName = "!withdrawn.txt";

// How a change is signed: with key (files and list), by dropping every
// signature (drop), or not at all (an unsigned site).
struct SiteSigning {
  const MinisignSecretKey* key = nullptr;
  ListBinding binding;
  bool drop = false;
};

// A file to put into the site under its listed name.
struct StagedFile {
  std::string path;
  std::string listedName;
};

// Copies files in, signs namesToSign, writes edit.list, signs the list (or
// drops every signature) and removes the files edit.unlistedNames names
// with their signatures. The first failure stops it, with its cause.
Status ApplyListEdit(const std::string& siteDir, const ListEdit& edit, const std::vector<StagedFile>& files,
                     const std::vector<std::string>& namesToSign, const SiteSigning& signing);

// The header lines of the updates withdrawn from the site.
std::vector<std::string> WithdrawnHeaders(const std::string& siteDir);
// Adds a withdrawn update's header line, with the time, to the site's record.
Status RecordWithdrawal(const std::string& siteDir, const std::string& header);
