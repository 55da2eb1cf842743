#pragma once
// Making and checking update sites, as the publisher's tool does: the blocks
// of an update list, the text of a new block, and the checks that a site
// holds what its list promises. Lines of a list end with CR LF.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/list/file_entries.h"

struct ListBlock {
  std::string header;     // the block's first line, "<update id=\"...\">"
  std::string id;         // the identifier between the quotes after id=
  std::string text;       // from "<update" through "</update>"
  std::size_t begin = 0;  // where text starts in the list
};

// The blocks of a list text, in order. Text outside blocks is ignored; an
// "<update" without a later "</update>" ends the reading (complete is then
// false).
std::vector<ListBlock> ListBlocks(std::string_view list, bool* complete = nullptr);

// The file entries of a block's first <files> section, in order (pieces
// with an empty name skipped).
std::vector<FileEntry> EntriesOf(std::string_view blockText);

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
// its header must sort after the header of the list's last block, and after
// every withdrawn one, so that the updater takes it for the newer one also
// where the withdrawn update was installed and recorded.
std::string OrderProblem(std::string_view list, std::string_view newHeader,
                         const std::vector<std::string>& withdrawnHeaders = {});

// The entry of a file as the list gives it: listedName with the file's size
// and checksum.
FileEntry EntryOfFile(const std::string& listedName, const std::string& path);

// Whether the site directory holds an ordinary file under the entry's name
// that the entry accepts.
bool SiteHoldsEntry(const std::string& siteDir, const FileEntry& entry);

// Whether a file of this size and checksum is what a listed entry promises
// (a size or checksum that the entry does not give is not compared).
bool EntryAccepts(const FileEntry& listed, std::int64_t size, std::int32_t checksum);

// Why a file with this entry may not be listed (empty when it may): its
// entry text must fit in 255 characters, the most the updater reads of an
// entry.
std::string EntryLengthProblem(const FileEntry& entry);

// Every problem of a site directory, one line each; empty when the list is
// well formed, its blocks ascend, every name is a plain file name, and every
// block's files are there with the sizes and checksums it lists. Each block
// whose files do not match is named, and where a fresh installation (which
// installs the blocks in order) would stop.
std::vector<std::string> VerifySite(const std::string& siteDir);
