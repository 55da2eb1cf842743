// tvqpublish: makes and checks update sites for tvqlupd.
//
//   tvqpublish add SITE_DIR --id ID FILE...   copy files in, append an update block
//   tvqpublish checksum FILE...               print name:size:checksum per file
//   tvqpublish verify SITE_DIR                check the list and every listed file
//
// Exit codes: 0 done; 1 verify found problems, or a copy or write failed;
// 2 refused (bad arguments or input; nothing was changed).
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/file_entries.h"
#include "app/site_list.h"
#include "app/update_list.h"
#include "platform/os.h"
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
    "content, another name, or NAME~ where no update lists it yet.\n";

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
    "fresh installation would stop. Prints each problem; exit 1 when there is any.\n";

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

int Add(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kAddHelp;
    return kOk;
  }
  std::string siteDir;
  std::string id;
  bool haveId = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--id") {
      if (i + 1 >= args.size()) return Refuse("--id needs a value");
      id = args[++i];
      haveId = true;
    } else if (StartsWith(a, "--id=")) {
      id = a.substr(5);
      haveId = true;
    } else if (StartsWith(a, "--") && a != "--") {
      return Refuse("unknown option " + a + " (see tvqpublish add --help)");
    } else if (siteDir.empty()) {
      siteDir = a;
    } else {
      files.push_back(a);
    }
  }
  if (siteDir.empty() || !haveId || files.empty())
    return Refuse("usage: tvqpublish add SITE_DIR --id ID FILE... (see --help)");
  if (!IsPlainUpdateId(id))
    return Refuse("the ID \"" + id + "\" is empty or holds '\"', '<', '>', '\\' or a control character");
  if (os::StatPath(siteDir).exists && !os::DirectoryExists(siteDir))
    return Refuse(siteDir + " is not a directory");

  // Every check comes before the first change.
  std::vector<Source> sources;
  std::set<std::string> restoredNames;
  for (const std::string& f : files) {
    Source s{f, FileNameOf(f)};
    if (!IsRegularFile(f)) {
      if (EndsWith(f, "~") && IsRegularFile(DropLast(f, 1))) {
        s.path = DropLast(f, 1);
      } else {
        return Refuse(f + ": no such file");
      }
    }
    if (!IsPlainFileName(s.listedName))
      return Refuse("\"" + s.listedName +
                    "\" is not a plain file name (empty, \".\", \"..\", or with '/', '\\', ':' or a "
                    "control character)");
    const std::string restored = RestoredName(s.listedName);
    if (restored == kUpdateListName) return Refuse("a file may not be named " + restored);
    if (!restoredNames.insert(restored).second) return Refuse(restored + " is given twice");
    sources.push_back(s);
  }

  const std::string listPath = AddBackslash(siteDir) + kUpdateListName;
  std::string list;
  if (os::FileExists(listPath)) {
    auto existing = ReadWhole(listPath);
    if (!existing) return Refuse(listPath + ": cannot be read");
    list = *existing;
    bool complete = true;
    const auto blocks = ListBlocks(list, &complete);
    if (!TrimmedList(list).empty() && (blocks.empty() || !complete))
      return Refuse(listPath + " is not an update list (no complete <update ...> ... </update> block)");
  }
  const std::string problem = OrderProblem(list, BlockHeader(id));
  if (!problem.empty()) return Refuse(problem);
  const std::string entryProblem = EntriesProblem(list, sources);
  if (!entryProblem.empty()) return Refuse(entryProblem);

  // The changes: the files first, then the list, so that a list never names
  // a file that is not there yet.
  if (!os::DirectoryExists(siteDir) && !os::MakeDirectories(siteDir)) {
    std::cerr << "tvqpublish: cannot create " << siteDir << "\n";
    return kFailed;
  }
  std::vector<FileEntry> entries;
  for (const Source& s : sources) {
    const std::string target = AddBackslash(siteDir) + s.listedName;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(s.path, target, ec);
    if (!same && !CopyFileBuffered(s.path, target, true, kCopyBufferSize, nullptr)) {
      std::cerr << "tvqpublish: cannot copy " << s.path << " to " << target << "\n";
      return kFailed;
    }
    entries.push_back(EntryOfFile(s.listedName, target));
  }
  if (!list.empty() && list.back() != '\n') list += "\r\n";
  list += MakeBlock(id, entries);
  const std::string temp = listPath + ".tmp";
  if (!WriteWhole(temp, list) || !os::RenameReplace(temp, listPath)) {
    os::RemoveFile(temp);
    std::cerr << "tvqpublish: cannot write " << listPath << "\n";
    return kFailed;
  }
  std::cout << "added update \"" << id << "\" with " << entries.size() << " file"
            << (entries.size() == 1 ? "" : "s") << " to " << listPath << "\n";
  for (const FileEntry& e : entries) std::cout << "  " << EntryText(e) << "\n";
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

int Verify(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::cout << kVerifyHelp;
    return kOk;
  }
  if (args.size() != 1) {
    std::cerr << "tvqpublish: usage: tvqpublish verify SITE_DIR (see --help)\n";
    return kRefused;
  }
  const std::vector<std::string> problems = VerifySite(args[0]);
  for (const std::string& p : problems) std::cout << p << "\n";
  if (!problems.empty()) {
    std::cout << problems.size() << " problem" << (problems.size() == 1 ? "" : "s") << " found\n";
    return kFailed;
  }
  std::cout << args[0] << ": ok\n";
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
  if (command == "checksum") return Checksum(args);
  if (command == "verify") return Verify(args);
  std::cerr << "tvqpublish: unknown command " << command << "\n\n" << kMainHelp;
  return kRefused;
}
