#include "support/command_line_options.h"

#include <algorithm>

#include "support/strfn.h"

namespace {

constexpr char kSwitchChar = '/';
constexpr char kSwitchSep = '\0';
// Switches are read from no more than 255 parameters.
constexpr std::size_t kMaxParams = 255;

bool IsSwitch(const std::string& arg) { return !arg.empty() && arg.front() == kSwitchChar; }

// The switch text: each switch preceded by the separator and followed by it.
std::string SwitchText(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) {
    if (!IsSwitch(arg)) continue;
    if (arg.size() > 1 && arg[1] == kSwitchChar) {
      if (!text.empty()) text.back() = ' ';
      text += arg.substr(1);
    } else {
      text += kSwitchSep + arg;
    }
    text += kSwitchSep;
  }
  return text;
}

// The first switch named like name (a prefix, without case) found in the
// first 255 characters of the switch text, then read whole.
std::optional<std::string> FirstSwitchTail(const std::vector<std::string>& args, std::string_view name) {
  const std::string text = SwitchText(args);
  const std::string sought = std::string(1, kSwitchSep) + kSwitchChar + UpStr(name);
  const std::size_t at = UpStr(ShortStr(text)).find(sought);
  if (at == std::string::npos) return std::nullopt;
  const std::size_t from = at + sought.size();
  return text.substr(from, text.find(kSwitchSep, from) - from);
}

// The value of the last switch named name (without case; '*' and '?' in
// either name match): the text after its first '=', or the whole switch
// when it has none.
std::optional<std::string> LastSwitchValue(const std::vector<std::string>& switches,
                                           std::string_view name) {
  const std::string wanted = UpStr(name);
  std::optional<std::string> value;
  for (const std::string& sw : switches) {
    const std::string up = UpStr(sw);
    const std::string key = FirstWord(up, "=");
    const bool match = StartsWith(up, wanted + "=") ||
                       (!key.empty() && (WildMatch(key, wanted) || WildMatch(wanted, key)));
    if (!match) continue;
    const std::size_t eq = sw.find('=');
    value = eq == std::string::npos ? sw : sw.substr(eq + 1);
  }
  return value;
}

std::string LastAccountTarget(const std::vector<std::string>& args) {
  std::string target;
  for (const std::string& arg : args) {
    const std::string up = UpStr(arg);
    if (up == "/LOG") target = "-";
    else if (StartsWith(up, "/LOG=") && arg.size() > 5) target = arg.substr(5);
  }
  return target;
}

CommandLineOptions::Report FirstReport(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help") return CommandLineOptions::Report::Help;
    if (arg == "--version") return CommandLineOptions::Report::Version;
  }
  return CommandLineOptions::Report::None;
}

// The first control character of text other than TAB, as "CR", "LF" or
// "0x01"; empty when there is none.
std::string ControlCharacterIn(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 32 || c == '\t') continue;
    if (c == '\r') return "CR";
    if (c == '\n') return "LF";
    if (c == 0) return "NUL";
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("0x") + kHex[c >> 4] + kHex[c & 15];
  }
  return {};
}

}  // namespace

std::string SwitchProblem(const CommandLineOptions& options) {
  for (const std::string& sw : options.switches) {
    const std::string control = ControlCharacterIn(sw);
    if (!control.empty())
      return "the switch /" + ControlsReplaced(sw) + " holds a control character (" + control +
             "); no setting was changed";
  }
  return {};
}

CommandLineOptions ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  options.report = FirstReport(args);
  options.versionBanner = !args.empty() && args.front() == "/?";
  options.site = FirstSwitchTail(args, "P");
  options.accountTarget = LastAccountTarget(args);
  const std::size_t counted = std::min(args.size(), kMaxParams);
  for (std::size_t i = 0; i < counted; ++i)
    if (IsSwitch(args[i])) options.switches.push_back(args[i].substr(1));
  for (const char* name : {"BasicCFGFile", "INIFile", "ConfigFile"})
    if (auto file = LastSwitchValue(options.switches, name)) options.settingsFile = std::move(file);
  return options;
}
