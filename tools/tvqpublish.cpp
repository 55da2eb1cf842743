// tvqpublish: makes and checks update sites for tvqlupd.
//
//   tvqpublish add SITE_DIR --id ID FILE...   copy files in, append an update block
//   tvqpublish withdraw SITE_DIR --id ID      take an update out of the site
//   tvqpublish checksum FILE...               print name:size:checksum per file
//   tvqpublish verify SITE_DIR                check the list and every listed file
//   tvqpublish keygen KEYFILE                 make a signing key, print its public key
//   tvqpublish sign SITE_DIR --key KEYFILE    sign the list and every listed file
//   add/withdraw ... --sign KEYFILE, verify ... --pubkey KEY: the same with signatures
//
// Exit codes: 0 done; 1 verify found problems, or a copy or write failed;
// 2 refused (bad arguments or input; nothing was changed).
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/fetch/minisign.h"
#include "publish/minisign_signing.h"
#include "app/fetch/signatures.h"
#include "app/list/file_entries.h"
#include "app/list/list_binding.h"
#include "app/list/rollout.h"
#include "app/list/site_record.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "platform/signature.h"
#include "platform/status.h"
#include "publish/lz_pack.h"
#include "publish/site_change.h"
#include "publish/site_deltas.h"
#include "publish/site_edit.h"
#include "publish/site_list.h"
#include "publish/site_record_write.h"
#include "publish/site_signing.h"
#include "support/fileutil.h"
#include "support/strfn.h"
#include "tvqpublish_help.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;
constexpr std::int64_t kMaxListBytes = 256 << 20;
constexpr std::int64_t kMaxKeyBytes = 64 * 1024;
constexpr std::int64_t kDay = 86400;

bool WantsHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

int Refuse(const std::string& message) {
  std::cerr << "tvqpublish: " << message << "\ntvqpublish: nothing was changed\n";
  return kRefused;
}

int Failed(const std::string& message) {
  std::cerr << "tvqpublish: " << message << "\n";
  return kFailed;
}

bool IsRegularFile(const std::string& path) {
  const os::FileInfo info = os::StatPath(path);
  if (info.isSymlink) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
  }
  return info.isRegular;
}

std::string Plural(std::size_t n, const std::string& word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Takes "--name VALUE" or "--name=VALUE" out of args.
std::optional<std::string> TakeOption(std::vector<std::string>& args, const std::string& name, bool* bad) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        *bad = true;
        return std::nullopt;
      }
      std::string value = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      return value;
    }
    if (StartsWith(args[i], name + "=")) {
      std::string value = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      return value;
    }
  }
  return std::nullopt;
}

// Takes the flag "--name" out of args; whether it was there.
bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

// What --channel and --expires ask for; each nullopt when not given.
struct BindingRequest {
  std::optional<std::string> channel;
  std::optional<std::int64_t> expires;  // Unix seconds
  bool Given() const { return channel || expires; }
};

// Takes --channel and --expires out of args; why says what is wrong with them.
std::optional<BindingRequest> TakeBinding(std::vector<std::string>& args, std::string* why) {
  bool bad = false;
  BindingRequest request;
  request.channel = TakeOption(args, "--channel", &bad);
  const auto days = bad ? std::nullopt : TakeOption(args, "--expires", &bad);
  if (bad) {
    *why = "--channel and --expires need a value";
    return std::nullopt;
  }
  if (request.channel && !IsPlainChannelName(*request.channel)) {
    *why = "the channel \"" + *request.channel + "\" may hold only letters, digits, '.', '_' and '-'";
    return std::nullopt;
  }
  if (days) {
    const std::int64_t n = IntValDef(*days, -1);
    if (n < 1 || n > 3650) {
      *why = "--expires takes a number of days from 1 to 3650, not \"" + *days + "\"";
      return std::nullopt;
    }
    request.expires = os::WallTimeSeconds() + n * kDay;
  }
  return request;
}

// How a change of a site is signed, decided before anything changes.
struct SigningOptions {
  std::optional<std::string> keyFile;  // --sign
  bool dropSignatures = false;         // --drop-signatures
  BindingRequest binding;
  std::optional<MinisignSecretKey> key;  // read from keyFile
  SiteSigning Signing() const {
    SiteSigning s;
    s.key = key ? &*key : nullptr;
    s.drop = dropSignatures;
    s.binding.channel = binding.channel.value_or("");
    s.binding.expires = binding.expires;
    return s;
  }
};

// Takes --sign, --channel, --expires and --drop-signatures out of args.
std::string TakeSigningOptions(std::vector<std::string>& args, SigningOptions& options) {
  bool bad = false;
  options.keyFile = TakeOption(args, "--sign", &bad);
  if (bad) return "--sign needs a key file";
  std::string why;
  const auto binding = TakeBinding(args, &why);
  if (!binding) return why;
  options.binding = *binding;
  options.dropSignatures = TakeFlag(args, "--drop-signatures");
  if (options.dropSignatures && (options.keyFile || options.binding.Given()))
    return "--drop-signatures removes every signature: it cannot go with --sign, --channel or --expires";
  if (!options.keyFile && options.binding.Given())
    return "--channel and --expires bind the list's signature: they need --sign KEYFILE";
  return {};
}

// Decides how a change of siteDir is signed: a signed site stays signed,
// with the channel and expiry its list has unless new ones are given; the
// key is read now, so a wrong password changes nothing.
std::string ResolveSigning(const std::string& siteDir, SigningOptions& options) {
  const bool isSigned = SiteListIsSigned(siteDir);
  if (isSigned && !options.keyFile && !options.dropSignatures)
    return "the site's list is signed (" + WithTrailingDelimiter(siteDir) + kUpdateListName + kSignatureSuffix +
           "): give --sign KEYFILE to sign what changes, or --drop-signatures to make the site unsigned "
           "(installations that check signatures then refuse it)";
  if (!options.keyFile) return {};
  if (isSigned) {
    const ListBinding current = CurrentListBinding(siteDir);
    if (!options.binding.channel && !current.channel.empty()) options.binding.channel = current.channel;
    if (!options.binding.expires && current.expires) {
      if (*current.expires <= os::WallTimeSeconds())
        return "the list's signature expired on " + UtcTimeText(*current.expires) +
               ": give --expires DAYS for the new one";
      options.binding.expires = current.expires;
    }
  }
  std::string why;
  options.key = LoadSigningKey(*options.keyFile, &why);
  return options.key ? std::string() : why;
}

void PrintSigning(const SigningOptions& options) {
  if (options.dropSignatures) {
    std::cout << "removed every signature of the site: installations that check signatures refuse it "
                 "until it is signed again\n";
    return;
  }
  if (!options.key) return;
  std::cout << "signed with key " << KeyIdText(options.key->keyId);
  if (options.binding.channel) std::cout << " for channel " << *options.binding.channel;
  if (options.binding.expires) std::cout << ", valid until " << UtcTimeText(*options.binding.expires);
  std::cout << "\n";
}

// The site's list as it stands (empty when there is none yet); why it
// cannot be changed (empty when it can).
std::string ReadSiteList(const std::string& siteDir, std::string& list) {
  const std::string listPath = WithTrailingDelimiter(siteDir) + kUpdateListName;
  if (!os::FileExists(listPath)) return {};
  auto existing = ReadFileBounded(listPath, kMaxListBytes);
  if (!existing) return listPath + ": cannot be read";
  list = *existing;
  bool complete = true;
  const auto blocks = ListBlocks(list, &complete);
  if (!TrimmedList(list).empty() && (blocks.empty() || !complete))
    return listPath + " is not an update list (no complete <update ...> ... </update> block)";
  return {};
}

// What "add" was asked to do.
struct AddRequest {
  std::string siteDir;
  std::string id;
  bool haveId = false;
  bool retire = false;
  std::vector<std::string> files;
  SigningOptions signing;
  RolloutChanges rollouts;  // of the update ID, when --percent, --days, --halt or --complete is given
  int deltaBases = 2;       // patches from this many earlier contents of each replaced file
};

// Takes --percent N, --days D, --halt and --complete out of args into the
// change of the rollout of id; at most one of them, and only --percent and
// --days when onlyStart (a new update starts a rollout; it has none to end).
std::string TakeRollout(std::vector<std::string>& args, const std::string& id, bool onlyStart,
                        RolloutChanges& changes) {
  bool bad = false;
  const auto percent = TakeOption(args, "--percent", &bad);
  const auto days = bad ? std::nullopt : TakeOption(args, "--days", &bad);
  if (bad) return "--percent and --days need a value";
  const bool halt = TakeFlag(args, "--halt");
  const bool complete = TakeFlag(args, "--complete");
  if (int(percent.has_value()) + int(days.has_value()) + int(halt) + int(complete) > 1)
    return "give one of --percent, --days, --halt and --complete";
  if (onlyStart && (halt || complete)) return "--halt and --complete change a rollout: see tvqpublish rollout";
  Rollout rollout;
  if (percent) {
    const auto value = ParseDecimal(*percent, 0, 100);
    if (!value) return "--percent takes a number from 0 to 100 (decimals allowed), not \"" + *percent + "\"";
    rollout.percent = *value;
  } else if (days) {
    const auto value = ParseDecimal(*days, 0, 3650);
    if (!value || *value <= 0) return "--days takes a number of days above 0 and up to 3650, not \"" + *days + "\"";
    rollout = {Rollout::Kind::Phased, 0, os::WallTimeSeconds(), *value};
  } else if (halt) {
    rollout.kind = Rollout::Kind::Halted;
  }
  if (percent || days || halt) changes[id] = rollout;
  if (complete) changes[id] = std::nullopt;
  return {};
}

// Reads the arguments of "add" and "withdraw"; why they are not usable
// (empty when they are).
// The commands that change a site's list or record; each takes its own options.
enum class SiteCommand { Add, Withdraw, Rollout };

std::string ParseSiteArgs(std::vector<std::string> args, AddRequest& request, const std::string& usage,
                          SiteCommand command) {
  if (std::string problem = TakeSigningOptions(args, request.signing); !problem.empty()) return problem;
  request.retire = TakeFlag(args, "--retire");
  bool bad = false;
  const auto id = TakeOption(args, "--id", &bad);
  if (bad) return "--id needs a value";
  request.haveId = id.has_value();
  request.id = id.value_or("");
  if (command == SiteCommand::Add) {
    const auto bases = TakeOption(args, "--delta-bases", &bad);
    if (bad || (bases && (IntValDef(*bases, -1) < 1 || IntValDef(*bases, -1) > 16)))
      return "--delta-bases takes a number from 1 to 16";
    if (bases) request.deltaBases = static_cast<int>(IntValDef(*bases, 2));
    if (TakeFlag(args, "--no-delta")) request.deltaBases = 0;
  }
  if (command != SiteCommand::Withdraw) {
    const bool onlyStart = command == SiteCommand::Add;
    if (std::string problem = TakeRollout(args, request.id, onlyStart, request.rollouts); !problem.empty())
      return problem;
  }
  for (const std::string& a : args) {
    if (StartsWith(a, "--") && a != "--") return "unknown option " + a + " (see --help)";
    if (request.siteDir.empty()) request.siteDir = a;
    else request.files.push_back(a);
  }
  if (request.siteDir.empty() || !request.haveId) return "usage: " + usage + " (see --help)";
  if (!IsPlainUpdateId(request.id))
    return "the ID \"" + request.id + "\" is empty or holds '\"', '<', '>', '\\' or a control character";
  if (os::StatPath(request.siteDir).exists && !os::DirectoryExists(request.siteDir))
    return request.siteDir + " is not a directory";
  return {};
}

// A private directory for intermediate files, removed with its files at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    path_ = WithTrailingDelimiter(TempDir()) + "tvqpublish-" + HashHex(crypto::RandomBytes(16));
    if (!os::MakePrivateDirectory(path_).ok()) path_.clear();
  }
  ~ScratchDirectory() {
    if (path_.empty()) return;
    for (const os::DirEntry& e : os::ListDirectory(path_)) os::RemoveFile(WithTrailingDelimiter(path_) + e.name);
    os::RemoveDirectory(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The main application as it is built is packed into the container the
// updater expands.
std::string PackIfProgram(StagedFile& file, ScratchDirectory& scratch) {
  if (file.listedName != "tvq.exe") return {};
  if (scratch.path().empty()) return "cannot make a directory in " + TempDir() + " to pack tvq.exe";
  const std::string packed = WithTrailingDelimiter(scratch.path()) + "tvq.ex_";
  if (Status done = PackForUpdate(file.path, packed, scratch.path()); !done.ok()) return done.message();
  file = {packed, "tvq.ex_"};
  std::cout << "packed tvq.exe into tvq.ex_ (" << FileSize64(packed) << " bytes)\n";
  return {};
}

// The files to add with their listed names; why they cannot be (empty when
// they can). A FILE~ that does not exist stands for FILE listed as FILE~.
std::string CollectSources(const std::vector<std::string>& files, ScratchDirectory& scratch,
                           std::vector<StagedFile>& sources) {
  std::set<std::string> restoredNames;
  for (const std::string& f : files) {
    StagedFile s{f, FileNameOf(f)};
    if (!IsRegularFile(f)) {
      if (!EndsWith(f, "~") || !IsRegularFile(DropLast(f, 1))) return f + ": no such file";
      s.path = DropLast(f, 1);
    }
    if (const std::string problem = FileNameProblem(s.listedName); !problem.empty())
      return "\"" + s.listedName + "\" is not a plain file name: " + problem;
    if (const std::string problem = PackIfProgram(s, scratch); !problem.empty()) return problem;
    const std::string restored = RestoredName(s.listedName);
    if (restored == kUpdateListName || restored == kSiteHistoryName || restored == kSiteRecordName)
      return "a file may not be named " + restored;
    if (!restoredNames.insert(restored).second) return restored + " is given twice";
    sources.push_back(s);
  }
  return {};
}

void PrintEdit(const ListEdit& edit, const std::string& verb) {
  for (const std::string& id : edit.retiredIds) std::cout << verb << " update \"" << id << "\"\n";
  for (const CarriedFile& c : edit.carried)
    std::cout << "  carried " << c.entry.name << " from update \"" << c.fromId << "\" into update \"" << c.toId << "\"\n";
  for (const CarriedFile& d : edit.dropped)
    std::cout << "  dropped " << d.entry.name << " of update \"" << d.fromId << "\" (it spoke of that update alone)\n";
  for (const FileEntry& e : edit.keptEntries)
    std::cout << "  kept " << e.name << " in it (carried there from retired updates; installations that have "
                 "not received it need it)\n";
  for (const std::string& name : edit.unlistedNames) std::cout << "  removed " << name << " from the site\n";
}

// Plans the new list; why it cannot be made (empty when it can).
std::string PlanAddition(const AddRequest& request, const std::string& list,
                         const std::vector<StagedFile>& sources, std::vector<FileEntry>& entries, ListEdit& edit) {
  const std::string header = BlockHeader(request.id);
  if (std::string problem = OrderProblem(list, header, ReadSiteHistory(request.siteDir).withdrawnHeaders); !problem.empty())
    return problem;
  for (const StagedFile& s : sources) {
    entries.push_back(EntryOfFile(s.listedName, s.path));
    if (std::string problem = EntryLengthProblem(entries.back()); !problem.empty()) return problem;
  }
  const std::string siteDir = request.siteDir;
  edit = AddUpdateBlock(list, request.id, entries, request.retire,
                        [&](const FileEntry& e) { return SiteHoldsEntry(siteDir, e); });
  return edit.problem;
}

// Says how the rollouts named in changes stand now.
void PrintRollouts(const std::string& siteDir, const RolloutChanges& changes) {
  const std::map<std::string, Rollout> rollouts = CurrentRollouts(siteDir);
  const std::int64_t now = os::WallTimeSeconds();
  for (const auto& [id, change] : changes) {
    const auto it = rollouts.find(id);
    std::cout << "rollout of update \"" << id << "\": "
              << (it == rollouts.end() ? "complete (every installation receives it)" : RolloutSummary(it->second, now))
              << "\n";
  }
}

int Add(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kAddHelp;
    return kOk;
  }
  AddRequest request;
  // Every check comes before the first change.
  if (std::string problem = ParseSiteArgs(args, request, "tvqpublish add SITE_DIR --id ID FILE...", SiteCommand::Add);
      !problem.empty() || request.files.empty())
    return Refuse(problem.empty() ? "usage: tvqpublish add SITE_DIR --id ID FILE... (see --help)" : problem);
  ScratchDirectory scratch;
  std::vector<StagedFile> sources;
  if (std::string problem = CollectSources(request.files, scratch, sources); !problem.empty())
    return Refuse(problem);
  std::string list;
  if (std::string problem = ReadSiteList(request.siteDir, list); !problem.empty()) return Refuse(problem);
  std::vector<FileEntry> entries;
  ListEdit edit;
  if (std::string problem = PlanAddition(request, list, sources, entries, edit); !problem.empty())
    return Refuse(problem);
  if (std::string problem = ResolveSigning(request.siteDir, request.signing); !problem.empty())
    return Refuse(problem);
  if (Status noted = AppendSiteHistory(request.siteDir, HistoryLinesOf(edit, false)); !noted.ok())
    return Failed(noted.message());
  const std::vector<ListBlock> blocks = ListBlocks(edit.list);
  RecordChanges changes{request.rollouts, {}};
  if (Status made = MakeDeltas(request.siteDir, sources, request.deltaBases, changes.newPatches); !made.ok())
    return Failed(made.message());
  const Status applied = ApplyListEdit(request.siteDir, edit, sources, ListedNames(blocks.back().text),
                                      request.signing.Signing(), changes);
  if (!applied.ok()) return Failed(applied.message());
  std::cout << "added update \"" << request.id << "\" with " << Plural(entries.size(), "file") << " to "
            << WithTrailingDelimiter(request.siteDir) + kUpdateListName << "\n";
  for (const FileEntry& e : entries) std::cout << "  " << EntryText(e) << "\n";
  for (const RecordedPatch& p : changes.newPatches)
    std::cout << "  patch " << p.patchName << ": " << p.patch.size << " bytes instead of " << p.result.size << "\n";
  PrintRollouts(request.siteDir, request.rollouts);
  PrintEdit(edit, "retired");
  PrintSigning(request.signing);
  return kOk;
}

int RolloutCommand(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kRolloutHelp;
    return kOk;
  }
  AddRequest request;
  const std::string usage = "tvqpublish rollout SITE_DIR --id ID (--percent N | --days D | --halt | --complete)";
  const std::string problem = ParseSiteArgs(args, request, usage, SiteCommand::Rollout);
  if (!problem.empty() || !request.files.empty() || request.rollouts.empty())
    return Refuse(problem.empty() ? "usage: " + usage + " (see --help)" : problem);
  std::string list;
  if (std::string problem = ReadSiteList(request.siteDir, list); !problem.empty()) return Refuse(problem);
  bool listed = false;
  for (const ListBlock& block : ListBlocks(list)) listed = listed || block.id == request.id;
  if (!listed) return Refuse("the list holds no update \"" + request.id + "\"");
  if (std::string problem = ResolveSigning(request.siteDir, request.signing); !problem.empty())
    return Refuse(problem);
  const SiteSigning signing = request.signing.Signing();
  const MinisignSecretKey* key = signing.drop ? nullptr : signing.key;
  if (Status written = WriteSiteRecord(request.siteDir, list, key, {request.rollouts, {}}); !written.ok())
    return Failed(written.message());
  if (signing.drop) RemoveSignatures(request.siteDir, ListedNames(list));
  PrintRollouts(request.siteDir, request.rollouts);
  PrintSigning(request.signing);
  return kOk;
}

int Withdraw(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kWithdrawHelp;
    return kOk;
  }
  AddRequest request;
  const std::string usage = "tvqpublish withdraw SITE_DIR --id ID";
  if (std::string problem = ParseSiteArgs(args, request, usage, SiteCommand::Withdraw); !problem.empty() || !request.files.empty())
    return Refuse(problem.empty() ? "usage: " + usage + " (see --help)" : problem);
  std::string list;
  if (std::string problem = ReadSiteList(request.siteDir, list); !problem.empty()) return Refuse(problem);
  const SiteHistory history = ReadSiteHistory(request.siteDir);
  const ListEdit edit = WithdrawUpdateBlock(
      list, request.id, [&](const FileEntry& e) { return history.WasCarriedInto(request.id, e); });
  if (!edit.ok()) return Refuse(edit.problem);
  if (std::string problem = ResolveSigning(request.siteDir, request.signing); !problem.empty())
    return Refuse(problem);
  // Remembered first: should the rest fail, no later update can still take
  // an identifier that sorts before it.
  if (Status noted = AppendSiteHistory(request.siteDir, HistoryLinesOf(edit, true)); !noted.ok())
    return Failed(noted.message());
  if (Status applied = ApplyListEdit(request.siteDir, edit, {}, {}, request.signing.Signing()); !applied.ok())
    return Failed(applied.message());
  PrintEdit(edit, "withdrew");
  PrintSigning(request.signing);
  std::cout << "installations that installed it keep it until their next update: publish the corrected "
               "files as a new update to roll forward\n";
  return kOk;
}

int Checksum(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kChecksumHelp;
    return kOk;
  }
  if (args.empty()) {
    std::cerr << "tvqpublish: usage: tvqpublish checksum FILE... (see --help)\n";
    return kRefused;
  }
  int rc = kOk;
  for (const std::string& f : args) {
    if (!IsRegularFile(f)) {
      std::cerr << "tvqpublish: " << f << ": no such file\n";
      rc = kRefused;
      continue;
    }
    std::cout << EntryText(EntryOfFile(FileNameOf(f), f)) << "\n";
  }
  return rc;
}

// What the list's signature says about its expiry: an expired list is a
// problem; one with less than a third of its lifetime left (a day where
// the signature names no signing time) a warning, printed at once.
void ListExpiryNotes(const std::string& siteDir, std::int64_t now, std::vector<std::string>& problems) {
  const std::string sigPath = WithTrailingDelimiter(siteDir) + kUpdateListName + kSignatureSuffix;
  const auto text = ReadFileBounded(sigPath, kMaxKeyBytes);
  const auto sig = text ? ParseSignature(*text) : std::nullopt;
  if (!sig) return;
  bool unreadable = false;
  const auto expires = ListExpiry(sig->trustedComment, &unreadable);
  const std::string resign = "; re-sign it: tvqpublish sign " + siteDir + " --key KEYFILE --expires DAYS";
  const std::int64_t margin = ListSignatureLifetime(sig->trustedComment).value_or(3 * kDay) / 3;
  if (unreadable) {
    problems.push_back(sigPath + ": the expiry in the trusted comment cannot be read");
  } else if (expires && *expires <= now) {
    problems.push_back(sigPath + ": the list's signature expired on " + UtcTimeText(*expires) + resign);
  } else if (expires && *expires - now < margin) {
    std::cout << "warning: " << sigPath << ": the list's signature expires on " << UtcTimeText(*expires)
              << ", in less than a third of its lifetime" << resign << "\n";
  }
}

int Verify(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kVerifyHelp;
    return kOk;
  }
  if (args.size() != 1) {
    std::cerr << "tvqpublish: usage: tvqpublish verify SITE_DIR (see --help)\n";
    return kRefused;
  }
  for (const auto& [id, rollout] : CurrentRollouts(args[0]))
    std::cout << "update \"" << id << "\": rollout " << RolloutSummary(rollout, os::WallTimeSeconds()) << "\n";
  std::vector<std::string> problems = VerifySite(args[0]);
  const std::vector<std::string> recordProblems = SiteRecordProblems(args[0], SiteListIsSigned(args[0]));
  problems.insert(problems.end(), recordProblems.begin(), recordProblems.end());
  ListExpiryNotes(args[0], os::WallTimeSeconds(), problems);
  for (const std::string& p : problems) std::cout << p << "\n";
  if (!problems.empty()) {
    std::cout << Plural(problems.size(), "problem") << " found\n";
    return kFailed;
  }
  std::cout << args[0] << ": ok\n";
  return kOk;
}

// The signature problems of a site: one line for each listed file and for
// the list whose signature is missing or bad.
std::vector<std::string> SignatureProblems(const std::string& siteDir, const std::vector<MinisignPublicKey>& keys) {
  std::vector<std::string> problems;
  const std::string listPath = WithTrailingDelimiter(siteDir) + kUpdateListName;
  std::vector<std::string> names = ListedNames(ReadFileBounded(listPath, kMaxListBytes).value_or(""));
  names.push_back(kSiteRecordName);
  names.push_back(kUpdateListName);
  for (const std::string& name : names) {
    const std::string path = WithTrailingDelimiter(siteDir) + name;
    if (!IsPlainFileName(name) || !IsRegularFile(path)) continue;  // the site checks name these
    const std::string sigText = ReadFileBounded(path + kSignatureSuffix, kMaxKeyBytes).value_or("");
    const SignatureVerdict v = VerifyFileSignature(sigText, path, keys, name);
    if (!v.Ok())
      problems.push_back(name + kSignatureSuffix + ": signature " + SignatureCheckText(v.check) + " (" + v.detail + ")");
  }
  return problems;
}

int VerifyWithSignatures(std::vector<std::string> args) {
  bool bad = false;
  const auto keyText = WantsHelp(args) ? std::nullopt : TakeOption(args, "--pubkey", &bad);
  if (bad) return Refuse("--pubkey needs a key (RW...) or a public key file");
  if (!keyText) return Verify(args);
  std::vector<std::string> keyProblems;
  const StatusOr<std::string> keyFileText = os::FileExists(*keyText)
                                                ? ReadFileBounded(*keyText, kMaxKeyBytes)
                                                : StatusOr<std::string>(Status::Error("no file"));
  std::vector<MinisignPublicKey> keys;
  if (keyFileText) {
    std::string why;
    if (auto key = ParsePublicKey(*keyFileText, &why)) keys.push_back(*key);
    else keyProblems.push_back(*keyText + ": " + why);
  } else {
    keys = ParsePublicKeys(*keyText, &keyProblems);
  }
  if (keys.empty() || !keyProblems.empty())
    return Refuse(keyProblems.empty() ? "no public key given" : keyProblems.front());
  const int rc = Verify(args);
  if (rc == kRefused) return rc;
  const std::vector<std::string> problems = SignatureProblems(args[0], keys);
  for (const std::string& p : problems) std::cout << p << "\n";
  if (!problems.empty()) {
    std::cout << Plural(problems.size(), "signature problem") << " found\n";
    return kFailed;
  }
  std::cout << args[0] << ": signatures ok\n";
  return rc;
}

// Writes text to a new file (never over an existing one).
bool WriteNewFile(const std::string& path, const std::string& text, int mode) {
  auto file = os::File::Open(path, os::OpenFor::CreateNew, mode);
  if (!text.empty() && file && file->Write(text.data(), text.size()).ok() && file->Sync().ok() &&
      file->Close().ok())
    return true;
  os::RemoveFile(path);
  return false;
}

int Keygen(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kKeygenHelp;
    return kOk;
  }
  std::string keyFile;
  bool unencrypted = false;
  bool unusable = false;
  for (const std::string& a : args) {
    if (a == "--unencrypted") unencrypted = true;
    else if (StartsWith(a, "--") || !keyFile.empty()) unusable = true;
    else keyFile = a;
  }
  if (unusable || keyFile.empty()) return Refuse("usage: tvqpublish keygen KEYFILE [--unencrypted] (see --help)");
  // A secret key is never overwritten: the keys made with it would be lost.
  const std::string pubFile = keyFile + ".pub";
  for (const std::string& f : {keyFile, pubFile})
    if (os::StatPath(f).exists) return Refuse(f + " exists already");
  std::optional<std::string> password;
  std::string why;
  if (!unencrypted && !(password = SigningPassword(true, &why)))
    return Refuse(why + " (or use --unencrypted)");
  const MinisignSecretKey key = NewSecretKey();
  const std::string publicKey = PublicKeyLine(PublicKeyOf(key));
  if (!WriteNewFile(keyFile, SecretKeyFileText(key, password), 0600)) return Failed("cannot write " + keyFile);
  if (!WriteNewFile(pubFile, "untrusted comment: minisign public key " + KeyIdText(key.keyId) + "\n" + publicKey + "\n",
                    0644))
    return Failed("cannot write " + pubFile);
  std::cerr << "secret key " << KeyIdText(key.keyId) << " written to " << keyFile
            << (password ? " (encrypted)" : " (not encrypted)") << ", public key to " << pubFile
            << "; the public key, for -DTVQ_PUBLIC_KEY= or LiveUpdate.publicKey=:\n";
  std::cout << publicKey << "\n";
  return kOk;
}

int Sign(std::vector<std::string> args) {
  if (WantsHelp(args)) {
    std::cout << kSignHelp;
    return kOk;
  }
  bool bad = false;
  std::string why;
  const auto request = TakeBinding(args, &why);
  if (!request) return Refuse(why);
  const auto keyFile = TakeOption(args, "--key", &bad);
  if (bad || !keyFile || args.size() != 1) return Refuse("usage: tvqpublish sign SITE_DIR --key KEYFILE (see --help)");
  const std::string& siteDir = args[0];
  const auto list = ReadFileBounded(WithTrailingDelimiter(siteDir) + kUpdateListName, kMaxListBytes);
  if (!list) return Refuse(WithTrailingDelimiter(siteDir) + kUpdateListName + ": cannot be read");
  const std::vector<std::string> names = ListedNames(*list);
  for (const std::string& name : names) {
    if (!IsPlainFileName(name)) return Refuse("\"" + name + "\" is not a plain file name");
    if (!IsRegularFile(WithTrailingDelimiter(siteDir) + name)) return Refuse(WithTrailingDelimiter(siteDir) + name + ": no such file");
  }
  const auto key = LoadSigningKey(*keyFile, &why);
  if (!key) return Refuse(why);
  ListBinding binding;
  binding.channel = request->channel.value_or("");
  binding.expires = request->expires;
  if (Status done = SignWholeSite(*key, siteDir, *list, binding); !done.ok()) return Failed(done.message());
  std::cout << "signed " << Plural(names.size(), "file") << ", the site's record and the list with key "
            << KeyIdText(key->keyId);
  if (!binding.channel.empty()) std::cout << " for channel " << binding.channel;
  if (binding.expires) std::cout << ", valid until " << UtcTimeText(*binding.expires);
  std::cout << "\n";
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << kMainHelp;
    return kRefused;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kMainHelp;
    return kOk;
  }
  if (command == "add") return Add(args);
  if (command == "withdraw") return Withdraw(args);
  if (command == "rollout") return RolloutCommand(args);
  if (command == "checksum") return Checksum(args);
  if (command == "verify") return VerifyWithSignatures(args);
  if (command == "keygen") return Keygen(args);
  if (command == "sign") return Sign(args);
  std::cerr << "tvqpublish: unknown command " << command << "\n\n" << kMainHelp;
  return kRefused;
}
