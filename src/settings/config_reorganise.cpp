#include "settings/config_reorganise.h"

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/os.h"
#include "settings/config.h"
#include "settings/settings_env.h"
#include "support/contexts.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/strfn.h"
#include "support/textfile.h"
#include "support/ui_hooks.h"

namespace {

constexpr double kSelfCheckRate = 0.001;
const char* const kVersionSpec = "CFGFileVersion=0";

std::function<double()>& RandomSource() {
  static std::function<double()>& source = *new std::function<double()>;
  return source;
}

double Draw() {
  if (RandomSource()) return RandomSource()();
  static std::mt19937 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

// A file pushed on top of the settings chain for the life of the object.
class ChainPush {
 public:
  explicit ChainPush(const std::string& file) { CfgPushFile(file); }
  ~ChainPush() { CfgPopFile(); }
  ChainPush(const ChainPush&) = delete;
  ChainPush& operator=(const ChainPush&) = delete;
};

// Working-file writes for the life of the object: the merged file reaches
// the disk once, when it is copied over the settings file.
class WorkingFileWrites {
 public:
  WorkingFileWrites() { CfgSetWorkingFileWrites(true); }
  ~WorkingFileWrites() { CfgSetWorkingFileWrites(false); }
  WorkingFileWrites(const WorkingFileWrites&) = delete;
  WorkingFileWrites& operator=(const WorkingFileWrites&) = delete;
};

// The settings file override set for the life of the object.
class OverrideScope {
 public:
  explicit OverrideScope(const std::string& file) : saved_(CfgOverride()) { CfgSetOverride(file); }
  ~OverrideScope() { CfgSetOverride(saved_); }
  OverrideScope(const OverrideScope&) = delete;
  OverrideScope& operator=(const OverrideScope&) = delete;

 private:
  std::string saved_;
};

struct SideFiles {
  std::string c = CfgProgramSettingsFileName();
  std::string fromSetup = c + ".fromsetup";
  std::string newVersion = c + ".newversion";
};

// Where a copy onto a settings file goes: a settings file kept as a link is
// written where the link leads, as the store writes it, so the link stays
// (a copy renamed over the link replaced it by a plain file).
std::string SettingsTarget(const std::string& file) { return os::ResolveLinks(file); }

std::string DisplayName() {
  return CfgGetStr("ProgramName=" + FileNameOf(ProgramPath(true, true)));
}

// The top file of the chain as it is when the merge starts: for every key
// part, upper-cased, the upper-cased value of its first line. "K is in the
// snapshot" and "the first line for K reads K=V" are answered from it.
class Snapshot {
 public:
  explicit Snapshot(const std::string& file) {
    TextFile f;
    if (!f.OpenRead(file).ok()) return;
    std::string line;
    while (f.ReadLine(line)) {
      std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      firstValues_.try_emplace(UpStr(std::string_view(line).substr(0, eq)),
                               UpStr(std::string_view(line).substr(eq + 1)));
    }
    f.Close();
  }
  bool HasKey(std::string_view key) const { return firstValues_.count(UpStr(key)) != 0; }
  bool FirstLineReads(std::string_view key, std::string_view value) const {
    auto it = firstValues_.find(UpStr(key));
    return it != firstValues_.end() && it->second == UpStr(value);
  }

 private:
  std::unordered_map<std::string, std::string> firstValues_;
};

// "//" after leading blanks, or one to three blanks and "^".
bool IsCommentLine(std::string_view line) {
  std::size_t blanks = line.find_first_not_of(' ');
  if (blanks == std::string_view::npos) return false;
  if (line.substr(blanks).starts_with("//")) return true;
  return blanks >= 1 && blanks <= 3 && line[blanks] == '^';
}

bool IsMergeCandidate(std::string_view line) {
  std::size_t eq = line.find('=');
  return eq != std::string_view::npos && eq >= 1 && line[0] != '[' && !IsCommentLine(line);
}

void ReportCode(const char* code) {
  ShowMessageBox(std::string("minor problem while reorganizing settings; please report code \"") + code +
                     "\"",
                 "", kMbOk);
}

// Now and then the snapshot's answer is compared with the real look-up.
void SelfCheck(bool shortcut, const std::function<bool()>& real, const char* code) {
  if (Draw() < kSelfCheckRate && real() != shortcut) ReportCode(code);
}

// Carries the values of oldFile into the top file of the chain. True when
// every value that was to be stored was stored and oldFile was read whole.
bool MergeValues(const std::string& oldFile) {
  const Snapshot snapshot(CfgTopFileName());
  auto readOnly = FileModeContext(0);
  TextFile f;
  if (!f.OpenRead(oldFile).ok()) return false;
  bool ok = true;
  try {
    std::string line;
    while (ok && f.ReadLine(line)) {
      if (!IsMergeCandidate(line)) continue;
      const std::size_t eq = line.find('=');
      const std::string key = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      const bool inSnapshot = snapshot.HasKey(key);

      const bool inChain = inSnapshot || CfgKeyExists(line);
      SelfCheck(inChain, [&] { return CfgKeyExists(line); }, "GDITAAAT");
      if (!inChain) continue;

      const bool inTop = inSnapshot || CfgKeyExistsInTop(line);
      SelfCheck(inTop, [&] { return CfgKeyExistsInTop(line); }, "GDI1222R");
      if (!inTop) continue;

      if (snapshot.FirstLineReads(key, value)) {
        SelfCheck(true, [&] { return CfgGetStr(key) == value; }, "GDI6777O");
        continue;
      }
      ok = CfgPutStr(key, value);
    }
    ok = ok && !f.IoError();
  } catch (...) {
    ok = false;
  }
  f.Close();
  return ok;
}

// C, with the new version's number written into the merged file before it
// replaces S, so that S changes from the old file to the finished one in one
// step.
bool UpdateFromNewVersion(const std::string& newVersionFile, const std::string* version) {
  const std::string s = CfgFileName();
  if (WordCount(CfgChain(), ";", true) > 1)
    ErrorBox("There could be an INI-update related problem [UCFUNVCF]");
  const std::string oldVersion = s + ".oldversion";
  const std::string forceNext = s + ".forceNext";
  bool ok = false;
  try {
    ok = CopyFileVerified(s, oldVersion);
    if (ok) ok = CopyFileVerified(newVersionFile, forceNext);
    if (ok) {
      {
        ChainPush push(forceNext);
        WorkingFileWrites working;
        // A merge that could not store every value does not replace S,
        // so the user's values are never lost to a failed store.
        ok = MergeValues(oldVersion);
        if (ok && version) ok = CfgPutStrInTop("CFGFileVersion", *version);
      }
      ok = ok && CopyFileVerified(forceNext, SettingsTarget(s));
    }
  } catch (...) {
    ok = false;
  }
  os::RemoveFile(forceNext);
  return ok;
}

// Starts the wait program that tells the user what is going on.
void Announce() {
  const std::string stem = StripExt(ProgramPath(true, true));
  const std::string waitProgram = stem + "uwait.exe";
  if (!FileExists(waitProgram)) return;
  // A path with blanks is quoted so that it stays one argument.
  StartDetached(CommandLineWord(waitProgram) + " /D" + "240" + " /FX- /M\"" + DisplayName() +
          ": INI-file update..." + "\"");
}

// The merge on copies in the settings-update directory; S is replaced only
// by the finished copy.
bool SafePath(const std::string& newVersionFile, const std::string& version) {
  const std::string dir = SettingsUpdateDir(true);
  const std::string newCopy = dir + "iniFileUpd-new.ini";
  const std::string curCopy = dir + "iniFileUpd-cur.ini";
  const std::string s = CfgFileName();
  if (!(CopyFileRetry(newVersionFile, newCopy).ok() && FilesEqual(newVersionFile, newCopy) &&
        CopyFileRetry(s, curCopy).ok() && FilesEqual(s, curCopy)))
    return false;
  bool done;
  {
    OverrideScope scope(curCopy);
    done = UpdateFromNewVersion(newCopy, &version);
  }
  if (done) done = CopyFileRetry(curCopy, SettingsTarget(s)).ok() && FilesEqual(curCopy, s);
  DeleteFileChecked(newCopy);
  DeleteFileChecked(curCopy);
  return done;
}

void Reorganise(bool force, const std::string& newVersionFile) {
  const std::string n = newVersionFile.empty() ? SideFiles().newVersion : newVersionFile;
  if (!FileExists(n) || !CfgIsTrue("CFGFileAutoUpdate=t")) return;
  const std::string current = ShortStr(CfgGetStr(kVersionSpec));
  std::string next;
  {
    ChainPush push(n);
    next = ShortStr(CfgGetStr(kVersionSpec));
  }
  // Versions compare as texts, byte by byte.
  if (!force && !(next > current)) return;
  try {
    Announce();
  } catch (...) {
  }
  bool done = false;
  if (WordCount(CfgChain(), ";", true) == 1) done = SafePath(n, next);
  if (!done) done = UpdateFromNewVersion(n, &next);
  if (done) CfgPutStr("CFGFileVersion", next);
}

void HandleSetupFile() {
  const SideFiles side;
  if (!FileExists(side.fromSetup)) return;
  bool reorganised = false;
  if (FileExists(side.c)) {
    const std::string caption = LangTextOf("G:Vorhergehende Einstellungen behalten?",
                                           "F:Conserver la configuration personelle actuelle?");
    const std::string text = FillPlaceholders(
        LangTextOf("G:%1 wurde erneut installiert. Es wurden persönliche Einstellungen gefunden, die "
                   "übernommen werden koennen. Bitte waehlen Sie\r[Ja] um Ihre persoenlichen "
                   "Einstellungen zu uebernehmen, oder\r[Nein] um die Standardeinstellungen zu "
                   "installieren.",
                   "F:%1 a été réinstallé. Une configuration personnelle préexistante a été trouvée. "
                   "Celle-ci peut être reprise. Veuillez choisir\r[Oui] pour reprendre votre "
                   "configuration personelle, ou\r[Non] pour installer la configuration par défaut.",
                   "*:%1 has been reinstalled. A personal configuration has been found. Please "
                   "choose\r[Yes] for keeping your personal settings, or\r[No] for discarding your "
                   "personal settings and reseting them to their defaults."),
        {DisplayName()});
    if (ShowMessageBox(text, caption, kMbYesNo | kMbIconQuestion) == kIdYes) {
      CopyFileRetry(side.fromSetup, side.newVersion);
      StartDetached("tvquwait /D240 /M\"" +
              LangTextOf("*:Persönliche Einstellungen werden übernommen",
                         "F:Reprise de la configuration personnelle en cours") +
              "...\"");
      Reorganise(true, "");
      reorganised = true;
    }
  }
  if (!reorganised) {
    CopyFileRetry(side.fromSetup, SettingsTarget(side.c));
    CopyFileRetry(side.fromSetup, side.newVersion);
  }
  DeleteFileChecked(side.fromSetup);
  if (FileExists(side.fromSetup)) {
    os::SleepMs(1000);
    DeleteFileChecked(side.fromSetup);
  }
  if (FileExists(side.fromSetup))
    ErrorBox(Message{LangTextOf("F:Impossible d'effacer le fichier \"%1\" (ce fichier doit être "
                                "effacé pour un fonctionnement correct du programme!)",
                                "*:Cannot delete file \"%1\" (this file must be removed for the "
                                "program to work correctly!)"),
                     {side.fromSetup}});
}

}  // namespace

void SetReorganiseRandomSource(std::function<double()> source) { RandomSource() = std::move(source); }

void CfgStartup() {
  CfgInit();
  const SideFiles side;
  try {
    const std::string s = CfgFileName();
    if (!FileExists(s)) {
      if (FileExists(side.c)) {
        CopyFileVerified(side.c, s);
      } else if (FileExists(side.fromSetup)) {
        if (CopyFileVerified(side.fromSetup, s)) {
          CopyFileVerified(side.fromSetup, side.newVersion);
          os::RemoveFile(side.fromSetup);
          if (FileExists(side.fromSetup)) os::RemoveFile(side.fromSetup);
        }
      } else if (FileExists(side.newVersion)) {
        CopyFileVerified(side.newVersion, s);
      }
    }
  } catch (...) {
  }
  if (!FileExists(side.fromSetup)) CfgReorganise(false, "");
  CfgHandleSetupFile();
}

void CfgReorganise(bool force, const std::string& newVersionFile) {
  try {
    Reorganise(force, newVersionFile);
  } catch (...) {
  }
}

bool CfgUpdateFromNewVersion(const std::string& newVersionFile) {
  return UpdateFromNewVersion(newVersionFile, nullptr);
}

void CfgMergeValues(const std::string& oldFile) { MergeValues(oldFile); }

void CfgHandleSetupFile() {
  try {
    HandleSetupFile();
  } catch (...) {
  }
}
