#include "publish/site_list.h"

#include <algorithm>
#include <map>
#include <utility>

#include "app/list/update_list.h"
#include "platform/os.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr std::string_view kBlockStart = "<update";
constexpr std::string_view kBlockEnd = "</update>";

std::string FirstLine(std::string_view text) {
  return std::string(text.substr(0, text.find_first_of("\r\n")));
}

// The identifier of a header line: the text between the double quote after
// "id=" and the next double quote; empty when there is none.
std::string IdOfHeader(std::string_view header) {
  const std::size_t at = header.find("id=\"");
  if (at == std::string_view::npos) return {};
  const std::size_t from = at + 4;
  const std::size_t to = header.find('"', from);
  return to == std::string_view::npos ? std::string() : std::string(header.substr(from, to - from));
}

}  // namespace

std::vector<ListBlock> ListBlocks(std::string_view list, bool* complete) {
  std::vector<ListBlock> blocks;
  bool whole = true;
  for (std::size_t from = list.find(kBlockStart); from != std::string_view::npos;
       from = list.find(kBlockStart, from)) {
    const std::size_t end = list.find(kBlockEnd, from);
    if (end == std::string_view::npos) {
      whole = false;
      break;
    }
    ListBlock block;
    block.text = std::string(list.substr(from, end + kBlockEnd.size() - from));
    block.header = FirstLine(block.text);
    block.id = IdOfHeader(block.header);
    block.begin = from;
    blocks.push_back(std::move(block));
    from = end + kBlockEnd.size();
  }
  if (complete) *complete = whole;
  return blocks;
}

std::vector<FileEntry> EntriesOf(std::string_view blockText) {
  std::vector<FileEntry> entries;
  const std::string files = FilesSectionOf(blockText);  // the pieces point into it
  FileEntry entry;
  for (std::string_view piece : ListPieces(files))
    if (ParseFileEntry(piece, entry)) entries.push_back(entry);
  return entries;
}

bool IsPlainUpdateId(std::string_view id) {
  if (id.empty()) return false;
  for (unsigned char c : id) {
    if (c == '"' || c == '<' || c == '>' || c == '\\' || c < 32 || c == 127) return false;
  }
  return true;
}

std::string BlockHeader(std::string_view id) {
  return "<update id=\"" + std::string(id) + "\">";
}

std::string EntryText(const FileEntry& entry) {
  return entry.name + ":" + std::to_string(entry.size) + ":" + std::to_string(entry.checksum);
}

std::string MakeBlock(std::string_view id, const std::vector<FileEntry>& entries) {
  std::string block = BlockHeader(id) + "\r\n<files>\r\n";
  for (const FileEntry& e : entries) block += EntryText(e) + "\\\r\n";
  block += "</files>\r\n</update>\r\n";
  return block;
}

std::string OrderProblem(std::string_view list, std::string_view newHeader,
                         const std::vector<std::string>& withdrawnHeaders) {
  const std::vector<ListBlock> blocks = ListBlocks(list);
  std::string last = blocks.empty() ? std::string() : blocks.back().header;
  std::string what = "the last block";
  for (const std::string& withdrawn : withdrawnHeaders) {
    if (withdrawn > last) {
      last = withdrawn;
      what = "the withdrawn block";
    }
  }
  if (last.empty() || std::string_view(newHeader) > std::string_view(last)) return {};
  return "the new block " + std::string(newHeader) + " does not sort after " + what + " " + last +
         " (identifiers must ascend in byte order, for example dates written year first)";
}

FileEntry EntryOfFile(const std::string& listedName, const std::string& path) {
  FileEntry entry;
  entry.name = listedName;
  entry.size = FileSize64(path);
  entry.checksum = FileChecksum(path);
  return entry;
}

bool SiteHoldsEntry(const std::string& siteDir, const FileEntry& entry) {
  const std::string path = WithTrailingDelimiter(siteDir) + entry.name;
  const os::FileInfo info = os::StatPath(path);
  return info.exists && info.isRegular &&
         EntryAccepts(entry, FileSize64(path), FileChecksum(path));
}

bool EntryAccepts(const FileEntry& listed, std::int64_t size, std::int32_t checksum) {
  return (listed.size < 0 || listed.size == size) &&
         (listed.checksum == kNoChecksum || listed.checksum == checksum);
}

std::string EntryLengthProblem(const FileEntry& entry) {
  const std::string text = EntryText(entry);
  if (text.size() <= kShortStrMax) return {};
  return "the entry \"" + text + "\" is " + std::to_string(text.size()) +
         " characters long; the updater reads at most " + std::to_string(kShortStrMax) +
         " characters of an entry (give the file a shorter name)";
}

namespace {

// What the site holds under each name, measured once.
class SiteFiles {
 public:
  struct File {
    bool present = false;
    std::int64_t size = 0;
    std::int32_t checksum = 0;
  };
  explicit SiteFiles(std::string siteDir) : siteDir_(WithTrailingDelimiter(std::move(siteDir))) {}
  const File& Of(const std::string& name) {
    auto [it, fresh] = files_.try_emplace(name);
    if (fresh) {
      const std::string path = siteDir_ + name;
      const os::FileInfo info = os::StatPath(path);
      it->second.present = info.exists && info.isRegular;
      if (it->second.present) {
        it->second.size = FileSize64(path);
        it->second.checksum = FileChecksum(path);
      }
    }
    return it->second;
  }

 private:
  std::string siteDir_;
  std::map<std::string, File> files_;
};

// Why a listed entry cannot be installed from the site; empty when it can.
std::string EntryProblem(const FileEntry& entry, SiteFiles& site) {
  if (const std::string problem = FileNameProblem(entry.name); !problem.empty())
    return "\"" + entry.name + "\" is not a plain file name (" + problem + ")";
  const SiteFiles::File& file = site.Of(entry.name);
  const std::string what = entry.name + ": ";
  if (!file.present) return what + "missing from the site";
  if (entry.size >= 0 && file.size != entry.size)
    return what + "size " + std::to_string(entry.size) + " listed, " + std::to_string(file.size) +
           " found";
  if (!EntryAccepts(entry, file.size, file.checksum))
    return what + "checksum " + std::to_string(entry.checksum) + " listed, " +
           std::to_string(file.checksum) + " found";
  return {};
}

// Checks block b of the list against the site; false when it cannot be installed.
bool VerifyBlock(const std::vector<ListBlock>& blocks, std::size_t b, SiteFiles& site,
                 std::vector<std::string>& problems) {
  const ListBlock& block = blocks[b];
  const std::string where = "update \"" + block.id + "\"";
  if (!IsPlainUpdateId(block.id))
    problems.push_back("block " + std::to_string(b + 1) + ": header " + block.header +
                       " has no plain id=\"...\"");
  if (b > 0 && !(block.header > blocks[b - 1].header))
    problems.push_back(where + ": does not sort after the block before it (" +
                       blocks[b - 1].header + ")");
  const std::size_t open = block.text.find("<files>");
  if (open == std::string::npos || block.text.find("</files>", open) == std::string::npos) {
    problems.push_back(where + ": no <files> section");
    return true;
  }
  bool installable = true;
  for (const FileEntry& entry : EntriesOf(block.text)) {
    if (const std::string problem = EntryProblem(entry, site); !problem.empty()) {
      problems.push_back(where + ": " + problem);
      installable = false;
    }
  }
  if (!installable) problems.push_back(where + ": cannot be installed from this site");
  return installable;
}

// Installations take the blocks in order, so none gets past the first one
// that cannot be installed.
std::string StopText(const std::vector<ListBlock>& blocks, std::size_t firstUninstallable) {
  const std::size_t later = blocks.size() - 1 - firstUninstallable;
  std::string stop = "a fresh installation stops at update \"" + blocks[firstUninstallable].id + "\"";
  if (later > 0)
    stop += " and never reaches the " + std::to_string(later) + " update" + (later == 1 ? "" : "s") +
            " after it";
  return stop;
}

}  // namespace

std::vector<std::string> VerifySite(const std::string& siteDir) {
  std::vector<std::string> problems;
  const std::string listPath = WithTrailingDelimiter(siteDir) + kUpdateListName;
  if (!os::FileExists(listPath)) {
    problems.push_back(listPath + ": missing");
    return problems;
  }
  // The text as the updater reads it over the internet.
  std::string list = ReadTextFile(listPath, "\r\n");
  if (!ValidateUpdateList(list)) {
    problems.push_back(listPath + ": not an update list (<update, </update>, <files> or </files> missing)");
    return problems;
  }
  bool complete = true;
  const std::vector<ListBlock> blocks = ListBlocks(list, &complete);
  if (!complete) problems.push_back(listPath + ": an <update block has no </update>");
  SiteFiles site(siteDir);
  std::size_t firstUninstallable = blocks.size();  // none yet
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (!VerifyBlock(blocks, b, site, problems))
      firstUninstallable = std::min(firstUninstallable, b);
  }
  if (firstUninstallable < blocks.size()) problems.push_back(StopText(blocks, firstUninstallable));
  return problems;
}
