#pragma once
// Making and checking update sites, as the publisher's tool does: the blocks
// of an update list, the text of a new block, and the checks that a site
// holds what its list promises. Lines of a list end with CR LF.

#include <string>
#include <string_view>
#include <vector>

#include "app/file_entries.h"

struct ListBlock {
  std::string header;  // the block's first line, "<update id=\"...\">"
  std::string id;      // the identifier between the quotes after id=
  std::string text;    // from "<update" through "</update>"
};

// The blocks of a list text, in order. Text outside blocks is ignored; an
// "<update" without a later "</update>" ends the reading (complete is then
// false).
std::vector<ListBlock> ListBlocks(std::string_view list, bool* complete = nullptr);

// Whether an identifier can stand in a header line and be found again:
// not empty, and no '"', '<', '>', '\' or control character.
bool IsPlainUpdateId(std::string_view id);

std::string BlockHeader(std::string_view id);  // <update id="ID">
// "name:size:checksum" (without the '\' that ends an entry in a list).
std::string EntryText(const FileEntry& entry);
// A whole block: header, <files>, one entry per line ended by '\', </files>,
// </update>; every line ended by CR LF.
std::string MakeBlock(std::string_view id, const std::vector<FileEntry>& entries);

// Why a block with this header may not follow the list (empty when it may):
// its header must sort after the header of the list's last block, so that
// the updater takes it for the newer one.
std::string OrderProblem(std::string_view list, std::string_view newHeader);

// The entry of a file as the list gives it: listedName with the file's size
// and checksum.
FileEntry EntryOfFile(const std::string& listedName, const std::string& path);

// Every problem of a site directory, one line each; empty when the list is
// well formed, its blocks ascend, every name is a plain file name, and every
// listed file is there with its size and checksum. A file that a later block
// lists again is checked against the later entry only (the site holds one
// copy per name).
std::vector<std::string> VerifySite(const std::string& siteDir);
