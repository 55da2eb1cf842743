// tvqpublish: makes and checks update sites for tvqlupd.
//
//   tvqpublish add SITE_DIR --id ID FILE...   copy files in, append an update block
//   tvqpublish checksum FILE...               print name:size:checksum per file
//   tvqpublish verify SITE_DIR                check the list and every listed file
//   tvqpublish keygen KEYFILE                 make a signing key, print its public key
//   tvqpublish sign SITE_DIR --key KEYFILE    sign the list and every listed file
//   add ... --sign KEYFILE, verify ... --pubkey KEY: the same with signatures
//
// Exit codes: 0 done; 1 verify found problems, or a copy or write failed;
// 2 refused (bad arguments or input; nothing was changed).
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/file_entries.h"
#include "app/list_binding.h"
#include "app/minisign.h"
#include "app/signatures.h"
#include "app/site_list.h"
#include "app/update_list.h"
#include "platform/os.h"
#include "platform/status.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kRefused = 2;

const char* const kMainHelp =
    "usage: tvqpublish COMMAND ...\n"
    "\n"
    "Makes and checks update sites for tvqlupd. A site is a directory (served\n"
    "over HTTP or used as file://DIR/) holding !update-info.txt and the files\n"
    "it lists.\n"
    "\n"
    "commands:\n"
    "  add SITE_DIR --id ID FILE...   copy the files into the site and append an update\n"
    "  checksum FILE...               print name:size:checksum for each file\n"
    "  verify SITE_DIR                check the list and every listed file\n"
    "  keygen KEYFILE                 make a signing key; print the public key\n"
    "  sign SITE_DIR --key KEYFILE    sign the list and every listed file\n"
    "\n"
    "Signatures: 'add ... --sign KEYFILE' signs what it adds and the list;\n"
    "'verify SITE_DIR --pubkey KEY' also checks every signature. --channel NAME\n"
    "and --expires DAYS (add --sign, sign) bind the list's signature to a channel\n"
    "and a lifetime.\n"
    "\n"
    "'tvqpublish COMMAND --help' describes a command.\n";

const char* const kAddHelp =
    "usage: tvqpublish add SITE_DIR --id ID FILE...\n"
    "\n"
    "Copies each FILE into SITE_DIR and appends one <update id=\"ID\"> block listing\n"
    "them (name:size:checksum) to SITE_DIR/!update-info.txt, creating both when\n"
    "missing. Lines end with CR LF.\n"
    "\n"
    "  ID      must sort after the ID of the list's last update in byte order\n"
    "          (write dates year first: 2024-05-01, 2024-05-01b, 2024-06-13)\n"
    "  FILE    a file; its name is used on the site. Give NAME~ to store a file\n"
    "          under NAME~ (FILE may name NAME~ itself or NAME): the updater\n"
    "          fetches NAME~ and installs it as NAME.\n"
    "\n"
    "Refuses (exit 2, nothing changed) when ID does not sort after the last\n"
    "update, a name is not a plain file name, a name is given twice, a file\n"
    "is missing, an entry would be longer than 255 characters, or a name that\n"
    "an earlier update lists would get other content: the site keeps one copy\n"
    "per name, and that update could no longer be installed. Publish the same\n"
    "content, another name, or NAME~ where no update lists it yet.\n"
    "\n"
    "  --sign KEYFILE   also sign the added files and the list (see 'sign --help')\n"
    "  --channel NAME, --expires DAYS   with --sign: as for 'sign'\n";

const char* const kChecksumHelp =
    "usage: tvqpublish checksum FILE...\n"
    "\n"
    "Prints name:size:checksum for each FILE, as an update list carries it.\n"
    "Exit 2 when a file is missing.\n";

const char* const kVerifyHelp =
    "usage: tvqpublish verify SITE_DIR\n"
    "\n"
    "Checks that SITE_DIR/!update-info.txt is a well-formed update list whose\n"
    "updates ascend, that every listed name is a plain file name, and that every\n"
    "file of every update is in SITE_DIR with the size and checksum that update\n"
    "lists. Names each update that cannot be installed from the site and where a\n"
    "fresh installation would stop. Prints each problem; exit 1 when there is any.\n"
    "\n"
    "  --pubkey KEY   also check the signature NAME.minisig of the list and of\n"
    "                 every listed file against KEY (RW..., several separated\n"
    "                 by ';', or a public key file) and name each one that is\n"
    "                 missing, malformed, made with another key or not matching\n"
    "\n"
    "A list signature that has expired is a problem; one that expires within a\n"
    "week is warned about (re-sign the list: tvqpublish sign ... --expires DAYS).\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

int Refuse(const std::string& message) {
  std::cerr << "tvqpublish: " << message << "\ntvqpublish: nothing was changed\n";
  return kRefused;
}

bool IsRegularFile(const std::string& path) {
  const os::FileInfo info = os::StatPath(path);
  if (info.isSymlink) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
  }
  return info.isRegular;
}

std::optional<std::string> ReadWhole(const std::string& path) {
  auto file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (;;) {
    const std::int64_t n = file->Read(buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

bool WriteWhole(const std::string& path, const std::string& text) {
  auto file = os::File::Open(path, os::OpenFor::CreateTruncate);
  return file && file->Write(text.data(), text.size()) && file->Sync() && file->Close();
}

struct Source {
  std::string path;        // the file to copy
  std::string listedName;  // its name on the site and in the list
};

// Why these files may not be added to the list (empty when they may): an
// entry too long for the updater, or a name whose earlier listing the new
// file would break.
std::string EntriesProblem(const std::string& list, const std::vector<Source>& sources) {
  for (const Source& s : sources) {
    const std::string problem = PublishProblem(list, EntryOfFile(s.listedName, s.path));
    if (!problem.empty()) return problem;
  }
  return {};
}

// What "add" was asked to do.
struct AddRequest {
  std::string siteDir;
  std::string id;
  bool haveId = false;
  std::vector<std::string> files;
};

// Reads the arguments of "add"; why they are not usable (empty when they are).
std::string ParseAddArgs(const std::vector<std::string>& args, AddRequest& request) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--id") {
      if (i + 1 >= args.size()) return "--id needs a value";
      request.id = args[++i];
      request.haveId = true;
    } else if (StartsWith(a, "--id=")) {
      request.id = a.substr(5);
      request.haveId = true;
    } else if (StartsWith(a, "--") && a != "--") {
      return "unknown option " + a + " (see tvqpublish add --help)";
    } else if (request.siteDir.empty()) {
      request.siteDir = a;
    } else {
      request.files.push_back(a);
    }
  }
  if (request.siteDir.empty() || !request.haveId || request.files.empty())
    return "usage: tvqpublish add SITE_DIR --id ID FILE... (see --help)";
  if (!IsPlainUpdateId(request.id))
    return "the ID \"" + request.id + "\" is empty or holds '\"', '<', '>', '\\' or a control character";
  if (os::StatPath(request.siteDir).exists && !os::DirectoryExists(request.siteDir))
    return request.siteDir + " is not a directory";
  return {};
}

// The files to add with their listed names; why they cannot be (empty when
// they can). A FILE~ that does not exist stands for FILE listed as FILE~.
std::string CollectSources(const std::vector<std::string>& files, std::vector<Source>& sources) {
  std::set<std::string> restoredNames;
  for (const std::string& f : files) {
    Source s{f, FileNameOf(f)};
    if (!IsRegularFile(f)) {
      if (!EndsWith(f, "~") || !IsRegularFile(DropLast(f, 1))) return f + ": no such file";
      s.path = DropLast(f, 1);
    }
    if (const std::string problem = FileNameProblem(s.listedName); !problem.empty())
      return "\"" + s.listedName + "\" is not a plain file name: " + problem;
    const std::string restored = RestoredName(s.listedName);
    if (restored == kUpdateListName) return "a file may not be named " + restored;
    if (!restoredNames.insert(restored).second) return restored + " is given twice";
    sources.push_back(s);
  }
  return {};
}

// The site's list as it stands (empty when there is none yet); why it
// cannot be extended (empty when it can).
std::string ReadSiteList(const std::string& listPath, std::string& list) {
  if (!os::FileExists(listPath)) return {};
  auto existing = ReadWhole(listPath);
  if (!existing) return listPath + ": cannot be read";
  list = *existing;
  bool complete = true;
  const auto blocks = ListBlocks(list, &complete);
  if (!TrimmedList(list).empty() && (blocks.empty() || !complete))
    return listPath + " is not an update list (no complete <update ...> ... </update> block)";
  return {};
}

// The changes: the files first, then the list, so that a list never names
// a file that is not there yet.
int PublishBlock(const AddRequest& request, const std::vector<Source>& sources,
                 const std::string& listPath, std::string list) {
  if (!os::DirectoryExists(request.siteDir) && !os::MakeDirectories(request.siteDir)) {
    std::cerr << "tvqpublish: cannot create " << request.siteDir << "\n";
    return kFailed;
  }
  std::vector<FileEntry> entries;
  for (const Source& s : sources) {
    const std::string target = AddBackslash(request.siteDir) + s.listedName;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(s.path, target, ec);
    const Status copied = same ? Status() : CopyFileBuffered(s.path, target, true, kCopyBufferSize, nullptr);
    if (!copied.ok()) {
      std::cerr << "tvqpublish: " << copied.message() << "\n";
      return kFailed;
    }
    entries.push_back(EntryOfFile(s.listedName, target));
  }
  if (!list.empty() && list.back() != '\n') list += "\r\n";
  list += MakeBlock(request.id, entries);
  const std::string temp = listPath + ".tmp";
  if (!WriteWhole(temp, list) || !os::RenameReplace(temp, listPath)) {
    os::RemoveFile(temp);
    std::cerr << "tvqpublish: cannot write " << listPath << "\n";
    return kFailed;
  }
  std::cout << "added update \"" << request.id << "\" with " << entries.size() << " file"
            << (entries.size() == 1 ? "" : "s") << " to " << listPath << "\n";
  for (const FileEntry& e : entries) std::cout << "  " << EntryText(e) << "\n";
  return kOk;
}

int Add(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kAddHelp;
    return kOk;
  }
  AddRequest request;
  if (const std::string problem = ParseAddArgs(args, request); !problem.empty())
    return Refuse(problem);
  // Every check comes before the first change.
  std::vector<Source> sources;
  if (const std::string problem = CollectSources(request.files, sources); !problem.empty())
    return Refuse(problem);
  const std::string listPath = AddBackslash(request.siteDir) + kUpdateListName;
  std::string list;
  if (const std::string problem = ReadSiteList(listPath, list); !problem.empty())
    return Refuse(problem);
  if (const std::string problem = OrderProblem(list, BlockHeader(request.id)); !problem.empty())
    return Refuse(problem);
  if (const std::string problem = EntriesProblem(list, sources); !problem.empty())
    return Refuse(problem);
  return PublishBlock(request, sources, listPath, std::move(list));
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
// problem, one that expires within a week a warning (printed at once).
void ListExpiryNotes(const std::string& siteDir, std::int64_t now, std::vector<std::string>& problems) {
  const std::string sigPath = AddBackslash(siteDir) + kUpdateListName + kSignatureSuffix;
  const auto text = ReadFileBounded(sigPath, 64 * 1024);
  const auto sig = text ? ParseSignature(*text) : std::nullopt;
  if (!sig) return;
  bool unreadable = false;
  const auto expires = ListExpiry(sig->trustedComment, &unreadable);
  const std::string resign = "; re-sign it: tvqpublish sign " + siteDir + " --key KEYFILE --expires DAYS";
  if (unreadable) {
    problems.push_back(sigPath + ": the expiry in the trusted comment cannot be read");
  } else if (expires && *expires <= now) {
    problems.push_back(sigPath + ": the list's signature expired on " + UtcTimeText(*expires) + resign);
  } else if (expires && *expires - now < 7 * 86400) {
    std::cout << "warning: " << sigPath << ": the list's signature expires on " << UtcTimeText(*expires)
              << ", within a week" << resign << "\n";
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
  std::vector<std::string> problems = VerifySite(args[0]);
  ListExpiryNotes(args[0], os::WallTimeSeconds(), problems);
  for (const std::string& p : problems) std::cout << p << "\n";
  if (!problems.empty()) {
    std::cout << problems.size() << " problem" << (problems.size() == 1 ? "" : "s") << " found\n";
    return kFailed;
  }
  std::cout << args[0] << ": ok\n";
  return kOk;
}

// ------------------------------------------------------------------- signatures

const char* const kKeygenHelp =
    "usage: tvqpublish keygen KEYFILE [--unencrypted]\n"
    "\n"
    "Makes a new Ed25519 signing key in the minisign format, writes the secret\n"
    "key to KEYFILE (which must not exist yet) and prints the public key line\n"
    "RW... for the build (cmake -DTVQ_PUBLIC_KEY=...) or the setting\n"
    "LiveUpdate.publicKey. The secret key is encrypted with a password taken\n"
    "from TVQ_SIGN_PASSWORD or asked on the terminal; --unencrypted leaves it\n"
    "unencrypted (for tests and CI machines that guard the file otherwise).\n";

const char* const kSignHelp =
    "usage: tvqpublish sign SITE_DIR --key KEYFILE [--channel NAME] [--expires DAYS]\n"
    "\n"
    "Signs every file that SITE_DIR/!update-info.txt lists, then the list\n"
    "itself, writing NAME.minisig beside each (minisign format, prehashed;\n"
    "checked by the updater and by 'minisign -V'). KEYFILE is a secret key of\n"
    "tvqpublish keygen or minisign -G; its password comes from\n"
    "TVQ_SIGN_PASSWORD or the terminal. Refuses (exit 2, nothing changed)\n"
    "when a listed file is missing.\n"
    "\n"
    "  --channel NAME   writes channel:NAME into the list's trusted comment: an\n"
    "                   installation that follows another channel (or none)\n"
    "                   refuses the list. NAME: letters, digits, '.', '_', '-'\n"
    "  --expires DAYS   writes expires:TIME (UTC, now + DAYS) into the list's\n"
    "                   trusted comment: installations refuse the list after\n"
    "                   that, so a saved copy cannot hold them back. Re-sign the\n"
    "                   site daily, e.g. from cron.\n";

constexpr const char* kSignatureComment = "signature from tvqpublish secret key";

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

// The signing password: TVQ_SIGN_PASSWORD, else asked on the terminal
// (twice when a new key is made). nullopt when neither is there.
std::optional<std::string> SigningPassword(bool confirm) {
  if (auto fromEnv = os::GetEnvVar("TVQ_SIGN_PASSWORD")) return fromEnv;
  auto first = os::ReadSecretLine("Password for the signing key: ");
  if (!first || !confirm) return first;
  auto second = os::ReadSecretLine("Password (again): ");
  if (!second || *second != *first) {
    std::cerr << "tvqpublish: the passwords differ\n";
    return std::nullopt;
  }
  return first;
}

// Reads a secret key file, asking for its password when it is encrypted.
std::optional<MinisignSecretKey> LoadSigningKey(const std::string& path, std::string* why) {
  auto text = ReadFileBounded(path, 64 * 1024);
  if (!text) {
    *why = path + ": cannot be read";
    return std::nullopt;
  }
  std::optional<std::string> password;
  if (SecretKeyIsEncrypted(*text)) {
    password = SigningPassword(false);
    if (!password) {
      *why = path + " is encrypted: set TVQ_SIGN_PASSWORD or run on a terminal";
      return std::nullopt;
    }
  }
  auto key = ParseSecretKey(*text, password, why);
  if (!key) *why = path + ": " + *why;
  return key;
}

// Writes NAME.minisig for the file at dir/name, replacing an older one in one step.
bool WriteSignature(const MinisignSecretKey& key, const std::string& dir, const std::string& name,
                    const ListBinding& binding = {}) {
  const std::string path = AddBackslash(dir) + name;
  const auto sig = SignFile(key, path, ListTrustedComment(name, os::WallTimeSeconds(), binding));
  const std::string target = path + kSignatureSuffix;
  const std::string temp = target + ".tmp";
  if (sig && WriteWhole(temp, SignatureFileText(*sig, kSignatureComment)) && os::RenameReplace(temp, target))
    return true;
  os::RemoveFile(temp);
  std::cerr << "tvqpublish: cannot sign " << path << "\n";
  return false;
}

// Every file name the list gives (as stored on the site), each once, in the
// order of first listing.
std::vector<std::string> ListedNames(std::string_view list) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const ListBlock& block : ListBlocks(list)) {
    FileEntry entry;
    const std::string files = FilesSectionOf(block.text);
    for (std::string_view piece : ListPieces(files))
      if (ParseFileEntry(piece, entry) && seen.insert(entry.name).second) names.push_back(entry.name);
  }
  return names;
}

// Signs the named files of the site and then the list, so that a list
// signature never vouches for files that are not signed yet.
int SignSiteFiles(const MinisignSecretKey& key, const std::string& siteDir, const std::vector<std::string>& names,
                  const ListBinding& binding) {
  for (const std::string& name : names)
    if (!WriteSignature(key, siteDir, name)) return kFailed;
  if (!WriteSignature(key, siteDir, kUpdateListName, binding)) return kFailed;
  std::cout << "signed " << names.size() << " file" << (names.size() == 1 ? "" : "s")
            << " and the list with key " << KeyIdText(key.keyId);
  if (!binding.channel.empty()) std::cout << " for channel " << binding.channel;
  if (binding.expires) std::cout << ", valid until " << UtcTimeText(*binding.expires);
  std::cout << "\n";
  return kOk;
}

// Takes --channel and --expires out of args; why says what is wrong with them.
std::optional<ListBinding> TakeBinding(std::vector<std::string>& args, std::string* why) {
  bool bad = false;
  ListBinding binding;
  const auto channel = TakeOption(args, "--channel", &bad);
  const auto days = bad ? std::nullopt : TakeOption(args, "--expires", &bad);
  if (bad) {
    *why = "--channel and --expires need a value";
    return std::nullopt;
  }
  if (channel && !IsPlainChannelName(*channel)) {
    *why = "the channel \"" + *channel + "\" may hold only letters, digits, '.', '_' and '-'";
    return std::nullopt;
  }
  if (channel) binding.channel = *channel;
  if (days) {
    const std::int64_t n = IntValDef(*days, -1);
    if (n < 1 || n > 3650) {
      *why = "--expires takes a number of days from 1 to 3650, not \"" + *days + "\"";
      return std::nullopt;
    }
    binding.expires = os::WallTimeSeconds() + n * 86400;
  }
  return binding;
}

int Keygen(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kKeygenHelp;
    return kOk;
  }
  std::string keyFile;
  bool unencrypted = false;
  for (const std::string& a : args) {
    if (a == "--unencrypted") {
      unencrypted = true;
    } else if (StartsWith(a, "--") || !keyFile.empty()) {
      return Refuse("usage: tvqpublish keygen KEYFILE [--unencrypted] (see --help)");
    } else {
      keyFile = a;
    }
  }
  if (keyFile.empty()) return Refuse("usage: tvqpublish keygen KEYFILE [--unencrypted] (see --help)");
  // A secret key is never overwritten: the keys made with it would be lost.
  if (os::StatPath(keyFile).exists) return Refuse(keyFile + " exists already");
  std::optional<std::string> password;
  if (!unencrypted) {
    password = SigningPassword(true);
    if (!password) return Refuse("no password: set TVQ_SIGN_PASSWORD, run on a terminal, or use --unencrypted");
  }
  const MinisignSecretKey key = NewSecretKey();
  const std::string text = SecretKeyFileText(key, password);
  auto file = os::File::Open(keyFile, os::OpenFor::CreateNew, 0600);
  if (text.empty() || !file || !file->Write(text.data(), text.size()) || !file->Sync() || !file->Close()) {
    os::RemoveFile(keyFile);
    std::cerr << "tvqpublish: cannot write " << keyFile << "\n";
    return kFailed;
  }
  std::cerr << "secret key " << KeyIdText(key.keyId) << " written to " << keyFile
            << (password ? " (encrypted)" : " (not encrypted)")
            << "; the public key, for -DTVQ_PUBLIC_KEY= or LiveUpdate.publicKey=:\n";
  std::cout << PublicKeyLine(PublicKeyOf(key)) << "\n";
  return kOk;
}

int Sign(std::vector<std::string> args) {
  if (WantsHelp(args)) {
    std::cout << kSignHelp;
    return kOk;
  }
  bool bad = false;
  std::string why;
  const auto binding = TakeBinding(args, &why);
  if (!binding) return Refuse(why);
  const auto keyFile = TakeOption(args, "--key", &bad);
  if (bad || !keyFile || args.size() != 1) return Refuse("usage: tvqpublish sign SITE_DIR --key KEYFILE (see --help)");
  const std::string& siteDir = args[0];
  const auto list = ReadFileBounded(AddBackslash(siteDir) + kUpdateListName, 256 << 20);
  if (!list) return Refuse(AddBackslash(siteDir) + kUpdateListName + ": cannot be read");
  const std::vector<std::string> names = ListedNames(*list);
  for (const std::string& name : names) {
    if (!IsPlainFileName(name)) return Refuse("\"" + name + "\" is not a plain file name");
    if (!IsRegularFile(AddBackslash(siteDir) + name)) return Refuse(AddBackslash(siteDir) + name + ": no such file");
  }
  const auto key = LoadSigningKey(*keyFile, &why);
  if (!key) return Refuse(why);
  return SignSiteFiles(*key, siteDir, names, *binding);
}

int AddAndSign(std::vector<std::string> args) {
  bool bad = false;
  const auto keyFile = WantsHelp(args) ? std::nullopt : TakeOption(args, "--sign", &bad);
  if (bad) return Refuse("--sign needs a key file");
  std::string why;
  const auto binding = TakeBinding(args, &why);
  if (!binding) return Refuse(why);
  if (!keyFile && (!binding->channel.empty() || binding->expires))
    return Refuse("--channel and --expires bind the list's signature: they need --sign KEYFILE");
  if (!keyFile) return Add(args);
  // The key is read before anything changes: a wrong password changes nothing.
  const auto key = LoadSigningKey(*keyFile, &why);
  if (!key) return Refuse(why);
  const int rc = Add(args);
  if (rc != kOk) return rc;
  std::string siteDir;
  for (std::size_t i = 0; i < args.size() && siteDir.empty(); ++i) {
    if (args[i] == "--id") ++i;
    else if (!StartsWith(args[i], "--")) siteDir = args[i];
  }
  const auto list = ReadFileBounded(AddBackslash(siteDir) + kUpdateListName, 256 << 20);
  const auto blocks = list ? ListBlocks(*list) : std::vector<ListBlock>();
  if (blocks.empty()) return kFailed;
  return SignSiteFiles(*key, siteDir, ListedNames(blocks.back().text), *binding);
}

// The signature problems of a site: one line for each listed file and for
// the list whose signature is missing or bad.
std::vector<std::string> SignatureProblems(const std::string& siteDir, const std::vector<MinisignPublicKey>& keys) {
  std::vector<std::string> problems;
  const std::string listPath = AddBackslash(siteDir) + kUpdateListName;
  std::vector<std::string> names = ListedNames(ReadFileBounded(listPath, 256 << 20).value_or(""));
  names.push_back(kUpdateListName);
  for (const std::string& name : names) {
    const std::string path = AddBackslash(siteDir) + name;
    if (!IsPlainFileName(name) || !IsRegularFile(path)) continue;  // the site checks name these
    const std::string sigText = ReadFileBounded(path + kSignatureSuffix, 64 * 1024).value_or("");
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
  const auto keyFileText = os::FileExists(*keyText) ? ReadFileBounded(*keyText, 64 * 1024) : std::nullopt;
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
    std::cout << problems.size() << " signature problem" << (problems.size() == 1 ? "" : "s") << " found\n";
    return kFailed;
  }
  std::cout << args[0] << ": signatures ok\n";
  return rc;
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
  if (command == "add") return AddAndSign(args);
  if (command == "checksum") return Checksum(args);
  if (command == "verify") return VerifyWithSignatures(args);
  if (command == "keygen") return Keygen(args);
  if (command == "sign") return Sign(args);
  std::cerr << "tvqpublish: unknown command " << command << "\n\n" << kMainHelp;
  return kRefused;
}
