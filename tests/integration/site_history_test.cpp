// Random histories of a site edited as the publisher's tool edits it (new
// versions of listed names, withdrawals), and a fleet of installations in
// every state they can reach: each takes one update a run, selected by the
// updater's own list reading, and every one ends with the newest content of
// every listed file.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/list/update_list.h"
#include "app/record/record.h"
#include "publish/site_edit.h"
#include "publish/site_list.h"
#include "support/fileutil.h"
#include "support/nuldev.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

constexpr const char* kNames[] = {"tvq.ex_", "data.bin", "readme.txt", "readme.txt~", "help.txt"};
constexpr std::size_t kFleetCap = 400;

struct Held {  // what an installation holds of a name, and from which update
  std::int64_t checksum = 0;
  std::string id;
  bool operator==(const Held&) const = default;
};

struct Installation {
  bool directorySite = false;  // reads the list as a file:// site does
  std::optional<std::string> record;
  std::map<std::string, Held> files;  // by installed name
  std::string Key() const {
    std::string key = (directorySite ? "d" : "h") + record.value_or("\x01");
    for (const auto& [name, held] : files) key += "|" + name + "=" + std::to_string(held.checksum);
    return key;
  }
};

// What the histories exercised, summed over every site.
struct Coverage {
  int retired = 0, carried = 0, withdrawn = 0, states = 0;
};

class SiteHistory {
 public:
  SiteHistory(unsigned seed, Coverage& coverage) : coverage(coverage), random_(seed) { AssignNullText(StdText()); }

  void RandomStep() {
    if (std::uniform_int_distribution<int>(0, 9)(random_) < 2 && !ListBlocks(list_).empty()) Withdraw();
    else Add();
    WriteLists();
    CheckSiteHoldsEveryEntry();
  }

  // Runs every installation to the end and checks it; then the fleet also
  // holds each installation one update further.
  void CheckAndAdvanceFleet() {
    std::vector<Installation> next;
    std::set<std::string> seen;
    const auto keep = [&](const Installation& i) {
      if (seen.insert(i.Key()).second) next.push_back(i);
    };
    fleet_.push_back(Installation{false, std::nullopt, {}});
    fleet_.push_back(Installation{true, std::nullopt, {}});
    coverage.states += static_cast<int>(fleet_.size());
    for (const Installation& inst : fleet_) {
      Installation done = inst;
      for (int runs = 0; RunOnce(done); ++runs) ASSERT_LT(runs, 200) << "an installation never comes to rest";
      ExpectNewest(done, inst);
      keep(inst);
      Installation one = inst;
      if (RunOnce(one)) keep(one);
    }
    std::shuffle(next.begin(), next.end(), random_);
    if (next.size() > kFleetCap) next.resize(kFleetCap);
    fleet_ = std::move(next);
  }

  std::string history;  // what was done, for the failure message
  Coverage& coverage;

 private:
  std::string NextId() {
    // Identifiers ascend; some are an earlier one with a letter added.
    if (!lastId_.empty() && lastId_.back() != 'b' && std::bernoulli_distribution(0.2)(random_))
      return lastId_ += "b";
    char id[32];
    std::snprintf(id, sizeof id, "TVQ2027-%03d", ++idCounter_);
    return lastId_ = id;
  }

  void Add() {
    const std::string id = NextId();
    std::vector<FileEntry> entries;
    std::set<std::string> restored;
    for (const char* name : kNames) {
      if (!std::bernoulli_distribution(0.4)(random_) || !restored.insert(RestoredName(name)).second) continue;
      const auto stored = stored_.find(name);
      const bool same = stored != stored_.end() && std::bernoulli_distribution(0.3)(random_);
      entries.push_back(same ? stored->second : FileEntry{name, 100, ++nextChecksum_});
    }
    if (entries.empty()) entries.push_back(FileEntry{"help.txt", 100, ++nextChecksum_});
    const ListEdit edit = AddUpdateBlock(list_, id, entries, false, [&](const FileEntry& e) {
      const auto it = stored_.find(e.name);
      return it != stored_.end() && it->second.checksum == e.checksum;
    });
    ASSERT_TRUE(edit.ok()) << edit.problem;
    history += "add " + id + ":";
    for (const FileEntry& e : entries) history += " " + e.name + "=" + std::to_string(e.checksum);
    history += edit.retiredIds.empty() ? "\n" : " (retires " + std::to_string(edit.retiredIds.size()) + ")\n";
    for (const FileEntry& e : entries) stored_[e.name] = e;
    coverage.retired += static_cast<int>(edit.retiredIds.size());
    coverage.carried += static_cast<int>(edit.carried.size());
    for (const CarriedFile& c : edit.carried) carriedInto_.insert({c.toId, EntryText(c.entry)});
    Apply(edit);
  }

  void Withdraw() {
    const std::vector<ListBlock> blocks = ListBlocks(list_);
    const ListBlock& gone = blocks[std::uniform_int_distribution<std::size_t>(0, blocks.size() - 1)(random_)];
    const ListEdit edit = WithdrawUpdateBlock(
        list_, gone.id, [&](const FileEntry& e) { return carriedInto_.count({gone.id, EntryText(e)}) > 0; });
    ASSERT_TRUE(edit.ok()) << edit.problem;
    history += "withdraw " + gone.id + "\n";
    // A withdrawal takes away only what that update itself published.
    for (const FileEntry& e : EntriesOf(gone.text)) {
      const std::vector<std::string>& unlisted = edit.unlistedNames;
      if (std::find(unlisted.begin(), unlisted.end(), e.name) != unlisted.end()) {
        ASSERT_EQ(carriedInto_.count({gone.id, EntryText(e)}), 0u) << e.name << " carried into " << gone.id << " was lost\n" << history;
      }
    }
    withdrawn_.push_back(gone.header);
    ++coverage.withdrawn;
    Apply(edit);
  }

  void Apply(const ListEdit& edit) {
    list_ = edit.list;
    for (const std::string& name : edit.unlistedNames) {
      const std::vector<std::string> listed = ListedNames(list_);
      ASSERT_EQ(std::count(listed.begin(), listed.end(), name), 0) << name << " is still listed";
      stored_.erase(name);
    }
  }

  // The list as each kind of site reads it, once per state of the site.
  void WriteLists() {
    WriteFile(dir_ / kUpdateListName, list_);
    ASSERT_TRUE(ReadLocalList(dir_ / kUpdateListName, directoryList_).ok());
    internetList_ = ReadTextFile(dir_ / kUpdateListName, "\r\n");
  }

  // The site holds one copy per name: every entry of every block must be
  // that copy, or the block could not be installed; and a block installs
  // each name once.
  void CheckSiteHoldsEveryEntry() {
    for (const ListBlock& block : ListBlocks(list_)) {
      std::set<std::string> installed;
      for (const FileEntry& e : EntriesOf(block.text))
        ASSERT_TRUE(installed.insert(RestoredName(e.name)).second) << block.id << " lists " << e.name << " twice";
      for (const FileEntry& e : EntriesOf(block.text)) {
        const auto it = stored_.find(e.name);
        ASSERT_TRUE(it != stored_.end() && it->second.checksum == e.checksum)
            << "update " << block.id << " lists " << EntryText(e) << " which the site does not hold\n" << history;
      }
    }
  }

  // One run of the updater: reads the list as its site kind does, selects
  // the next update and installs and records it. False when nothing new.
  bool RunOnce(Installation& inst) {
    std::string list = inst.directorySite ? directoryList_ : internetList_;
    if (!ValidateUpdateList(list)) return false;
    const auto lookup = [&](std::string_view spec) {
      return inst.record.value_or(std::string(spec.substr(spec.find('=') + 1)));
    };
    const std::string update = SelectUpdate(list, lookup);
    if (!IsNewUpdate(update, lookup("LiveUpdate.lastUpdateInfo=<"))) return false;
    const std::string id = ListBlocks(update).at(0).id;
    for (const FileEntry& e : EntriesOf(update)) {
      const auto it = stored_.find(e.name);
      EXPECT_TRUE(it != stored_.end() && it->second.checksum == e.checksum)
          << "update " << id << " cannot be installed: " << e.name << "\n" << history;
      inst.files[RestoredName(e.name)] = Held{e.checksum, id};
    }
    inst.record = RecordOfUpdate(update);
    return true;
  }

  // Every name the list offers is at its newest content, unless the
  // installation holds it from an update that no longer offers it, at or
  // before a withdrawn one: an installation that received a withdrawn
  // update (or one that only it superseded) keeps it until the next update
  // that lists the name.
  void ExpectNewest(const Installation& done, const Installation& start) {
    std::map<std::string, std::int64_t> newest;  // name -> checksum
    std::set<std::pair<std::string, std::int64_t>> offered;  // (update id, checksum)
    for (const ListBlock& block : ListBlocks(list_)) {
      for (const FileEntry& e : EntriesOf(block.text)) {
        newest[RestoredName(e.name)] = e.checksum;
        offered.insert({block.id, e.checksum});
      }
    }
    for (const auto& [name, want] : newest) {
      const auto held = done.files.find(name);
      if (held != done.files.end() && !offered.count({held->second.id, held->second.checksum}) &&
          std::any_of(withdrawn_.begin(), withdrawn_.end(),
                      [&](const std::string& w) { return w >= BlockHeader(held->second.id); }))
        continue;
      ASSERT_TRUE(held != done.files.end() && held->second.checksum == want)
          << name << ": the installation that started at " << start.record.value_or("(no record)")
          << (start.directorySite ? " (file:// site)" : " (HTTP site)") << " ends with "
          << (held == done.files.end() ? std::string("nothing") : std::to_string(held->second.checksum))
          << ", the site's newest is " << want << "\nhistory:\n" << history << "list:\n" << list_;
    }
  }

  std::mt19937 random_;
  ScratchDir dir_;
  VirtualClock clock_;  // the updater's pauses for obsolete updates
  std::string list_;
  std::string directoryList_;
  std::string internetList_;
  std::map<std::string, FileEntry> stored_;          // the site's copy of each stored name
  std::vector<std::string> withdrawn_;  // headers
  std::set<std::pair<std::string, std::string>> carriedInto_;  // (update id, entry text)
  std::vector<Installation> fleet_;
  std::string lastId_;
  int idCounter_ = 0;
  std::int64_t nextChecksum_ = 0;
};

TEST(SiteHistory, EveryInstallationStateReachesTheNewestContentOfEveryName) {
  Coverage c;
  for (unsigned seed = 1; seed <= 150; ++seed) {
    SiteHistory site(seed, c);
    for (int step = 0; step < 24; ++step) {
      site.RandomStep();
      site.CheckAndAdvanceFleet();
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  std::printf("installation states checked: %d; updates retired: %d, files carried: %d, withdrawn: %d\n",
              c.states, c.retired, c.carried, c.withdrawn);
  EXPECT_GT(c.retired, 1000);
  EXPECT_GT(c.carried, 1000);
  EXPECT_GT(c.withdrawn, 300);
}

}  // namespace
