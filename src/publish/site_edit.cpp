#include "publish/site_edit.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "publish/site_list.h"
#include "support/strfn.h"

namespace {

// The updater's own file names: a new updater in any of its listed forms.
constexpr std::string_view kUpdaterNames[] = {"tvqlupd.ex_", "tvqlupd.exe", "tvqlupd"};
constexpr std::string_view kMoreMarkers[] = {"!more", "!more.flg", "!more.txt"};

struct Block {
  ListBlock text;
  std::vector<FileEntry> entries;
};

bool IsInstallationProgram(const FileEntry& entry) { return StartsWith(RestoredName(entry.name), "!update"); }

bool IsMoreMarker(const FileEntry& entry) {
  const std::string name = RestoredName(entry.name);
  return std::find(std::begin(kMoreMarkers), std::end(kMoreMarkers), name) != std::end(kMoreMarkers);
}

bool IsNewUpdater(const FileEntry& entry) {
  const std::string name = LowStr(RestoredName(entry.name));
  return std::find(std::begin(kUpdaterNames), std::end(kUpdaterNames), name) != std::end(kUpdaterNames);
}

// What a special entry delivers, for the maker; empty for an ordinary file.
std::string SpecialKind(const FileEntry& entry) {
  if (IsInstallationProgram(entry)) return "an installation program (" + entry.name + ")";
  if (IsMoreMarker(entry)) return "a marker that more updates follow (" + entry.name + ")";
  if (IsNewUpdater(entry)) return "a new updater (" + entry.name + ")";
  return {};
}

bool ListsRestored(const std::vector<FileEntry>& entries, const std::string& restored) {
  return std::any_of(entries.begin(), entries.end(),
                     [&](const FileEntry& e) { return RestoredName(e.name) == restored; });
}

bool HasInstallationProgram(const std::vector<FileEntry>& entries) {
  return std::any_of(entries.begin(), entries.end(), IsInstallationProgram);
}

std::vector<Block> ParsedBlocks(std::string_view list) {
  std::vector<Block> blocks;
  for (ListBlock& b : ListBlocks(list)) {
    std::vector<FileEntry> entries = EntriesOf(b.text);
    blocks.push_back({std::move(b), std::move(entries)});
  }
  return blocks;
}

std::string QuotedId(const Block& block) { return "update \"" + block.text.id + "\""; }

// A block's text with entries put at the start of its <files> section.
std::string WithEntriesFirst(const std::string& blockText, const std::vector<FileEntry>& entries) {
  const std::size_t files = blockText.find("<files>");
  if (files == std::string::npos || entries.empty()) return blockText;
  std::string inserted;
  for (const FileEntry& e : entries) inserted += "\r\n" + EntryText(e) + "\\";
  std::string text = blockText;
  text.insert(files + 7, inserted);
  return text;
}

std::size_t AfterLineEnd(std::string_view list, std::size_t at) {
  if (list.substr(at, 2) == "\r\n") return at + 2;
  if (list.substr(at, 1) == "\n") return at + 1;
  return at;
}

// The list with the removed blocks left out (with the line end after each)
// and carried entries put into their targets; all other text unchanged.
std::string Rebuilt(std::string_view list, const std::vector<Block>& blocks, const std::vector<bool>& removed,
                    const std::map<std::size_t, std::vector<FileEntry>>& carriedInto) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const ListBlock& b = blocks[i].text;
    out.append(list.substr(at, b.begin - at));
    at = b.begin + b.text.size();
    if (removed[i]) {
      at = AfterLineEnd(list, at);
      continue;
    }
    const auto carried = carriedInto.find(i);
    out += carried == carriedInto.end() ? b.text : WithEntriesFirst(b.text, carried->second);
  }
  out.append(list.substr(at));
  return out;
}

std::string Appended(std::string list, const std::string& block) {
  if (!list.empty() && list.back() != '\n') list += "\r\n";
  return list + block;
}

std::vector<std::string> NoLongerListed(std::string_view before, std::string_view after) {
  const std::vector<std::string> now = ListedNames(after);
  const std::set<std::string> kept(now.begin(), now.end());
  std::vector<std::string> gone;
  for (const std::string& name : ListedNames(before))
    if (!kept.count(name)) gone.push_back(name);
  return gone;
}

// The blocks that list one of the new entries' names with other content.
std::vector<bool> BlocksToRetire(const std::vector<Block>& blocks, const std::vector<FileEntry>& entries) {
  std::vector<bool> retire(blocks.size(), false);
  for (std::size_t b = 0; b < blocks.size(); ++b)
    for (const FileEntry& listed : blocks[b].entries)
      for (const FileEntry& e : entries)
        if (listed.name == e.name && !EntryAccepts(listed, e.size, static_cast<std::int32_t>(e.checksum)))
          retire[b] = true;
  return retire;
}

// Why a block may not be retired as asked (empty when it may).
std::string RetirementProblem(const Block& block, bool retireSpecial) {
  for (const FileEntry& e : block.entries) {
    if (IsInstallationProgram(e))
      return QuotedId(block) + " lists a name that gets new content, and it runs " + SpecialKind(e) +
             ", which installs its files in its own way: they cannot be carried into another update. "
             "Withdraw that update first (tvqpublish withdraw), or publish the new content under another name";
  }
  if (retireSpecial) return {};
  std::string kinds;
  for (const FileEntry& e : block.entries)
    if (const std::string kind = SpecialKind(e); !kind.empty()) kinds += (kinds.empty() ? "" : ", ") + kind;
  if (kinds.empty()) return {};
  return QuotedId(block) + " lists a name that gets new content and delivers " + kinds +
         "; retiring it means installations that have not received it never run it as it stands. "
         "Give --retire to retire it (its files are carried into the next update), or publish the new "
         "content under another name";
}

// The plan of an addition that retires blocks: what goes where.
class RetirementPlan {
 public:
  RetirementPlan(const std::vector<Block>& blocks, const std::vector<bool>& retired,
                 const std::vector<FileEntry>& entries, const SiteHolds& siteHolds)
      : blocks_(blocks), retired_(retired), entries_(entries), siteHolds_(siteHolds) {}

  // Carries the files that block r alone delivered; why it cannot (empty when it can).
  std::string Carry(std::size_t r, ListEdit& edit) {
    for (const FileEntry& e : blocks_[r].entries) {
      if (ListedLater(r, RestoredName(e.name))) continue;
      const std::size_t target = NextRemaining(r);
      const std::string toId = target < blocks_.size() ? blocks_[target].text.id : newId_;
      if (IsMoreMarker(e)) {
        edit.dropped.push_back({e, blocks_[r].text.id, toId});
        continue;
      }
      if (target < blocks_.size() && HasInstallationProgram(blocks_[target].entries))
        return "carrying " + e.name + " of " + QuotedId(blocks_[r]) + " into " + QuotedId(blocks_[target]) +
               " would hand it to that update's installation program instead of installing it";
      if (!siteHolds_(e))
        return QuotedId(blocks_[r]) + " lists " + EntryText(e) +
               ", which the site no longer holds; it cannot be carried forward (tvqpublish verify names "
               "what the site lacks)";
      std::vector<FileEntry>& into = carriedInto_[target];
      std::erase_if(into, [&](const FileEntry& c) { return RestoredName(c.name) == RestoredName(e.name); });
      into.push_back(e);
      edit.carried.push_back({e, blocks_[r].text.id, toId});
    }
    return {};
  }

  void SetNewId(std::string id) { newId_ = std::move(id); }
  const std::map<std::size_t, std::vector<FileEntry>>& CarriedInto() const { return carriedInto_; }

 private:
  // The first block after r that stays; blocks_.size() stands for the new one.
  std::size_t NextRemaining(std::size_t r) const {
    std::size_t t = r + 1;
    while (t < blocks_.size() && retired_[t]) ++t;
    return t;
  }
  // Whether a block after r that stays, or the new one, lists the name.
  bool ListedLater(std::size_t r, const std::string& restored) const {
    if (ListsRestored(entries_, restored)) return true;
    for (std::size_t t = r + 1; t < blocks_.size(); ++t)
      if (!retired_[t] && ListsRestored(blocks_[t].entries, restored)) return true;
    return false;
  }

  const std::vector<Block>& blocks_;
  const std::vector<bool>& retired_;
  const std::vector<FileEntry>& entries_;
  const SiteHolds& siteHolds_;
  std::string newId_;
  std::map<std::size_t, std::vector<FileEntry>> carriedInto_;
};

}  // namespace

std::vector<std::string> ListedNames(std::string_view list) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const ListBlock& block : ListBlocks(list))
    for (const FileEntry& entry : EntriesOf(block.text))
      if (seen.insert(entry.name).second) names.push_back(entry.name);
  return names;
}

ListEdit AddUpdateBlock(std::string_view list, std::string_view id, const std::vector<FileEntry>& entries,
                        bool retireSpecial, const SiteHolds& siteHolds) {
  ListEdit edit;
  const std::vector<Block> blocks = ParsedBlocks(list);
  const std::vector<bool> retired = BlocksToRetire(blocks, entries);
  RetirementPlan plan(blocks, retired, entries, siteHolds);
  plan.SetNewId(std::string(id));
  for (std::size_t r = 0; r < blocks.size(); ++r) {
    if (!retired[r]) continue;
    edit.problem = RetirementProblem(blocks[r], retireSpecial);
    if (edit.problem.empty()) edit.problem = plan.Carry(r, edit);
    if (!edit.ok()) return edit;
    edit.retiredIds.push_back(blocks[r].text.id);
  }
  // The new block: what was carried into it first, its own entries after.
  std::vector<FileEntry> newEntries;
  if (const auto carried = plan.CarriedInto().find(blocks.size()); carried != plan.CarriedInto().end())
    for (const FileEntry& c : carried->second)
      if (!ListsRestored(entries, RestoredName(c.name))) newEntries.push_back(c);
  newEntries.insert(newEntries.end(), entries.begin(), entries.end());
  edit.list = Appended(Rebuilt(list, blocks, retired, plan.CarriedInto()), MakeBlock(id, newEntries));
  edit.unlistedNames = NoLongerListed(list, edit.list);
  return edit;
}

ListEdit WithdrawUpdateBlock(std::string_view list, std::string_view id, const CarriedInto& carried) {
  ListEdit edit;
  const std::vector<Block> blocks = ParsedBlocks(list);
  const auto gone = std::find_if(blocks.begin(), blocks.end(), [&](const Block& b) { return b.text.id == id; });
  if (gone == blocks.end()) {
    edit.problem = "the list has no update \"" + std::string(id) + "\"";
    return edit;
  }
  for (const FileEntry& e : gone->entries)
    if (carried(e)) edit.keptEntries.push_back(e);
  std::vector<bool> removed(blocks.size(), false);
  removed[static_cast<std::size_t>(gone - blocks.begin())] = true;
  edit.retiredIds.push_back(std::string(id));
  std::string rebuilt = Rebuilt(list, blocks, removed, {});
  if (!edit.keptEntries.empty()) {
    // In the withdrawn update's place, so the list keeps its order.
    const std::size_t at = gone->text.begin;
    rebuilt.insert(at, MakeBlock(id, edit.keptEntries));
  }
  edit.list = rebuilt;
  edit.unlistedNames = NoLongerListed(list, edit.list);
  return edit;
}
