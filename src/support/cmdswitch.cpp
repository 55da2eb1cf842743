#include "support/cmdswitch.h"

#include "platform/os.h"
#include "support/strfn.h"

namespace {

// Splits without cutting the input; the result is a short string.
std::string Split(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != kSwitchChar) {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == kSwitchChar) {
      out += kSwitchChar;  // a doubled switch character is a literal one
      ++i;
    } else {
      out += kSwitchSep;
      out += kSwitchChar;
    }
  }
  return ShortStr(out);
}

// Doubles every switch character of text from position `from` (0-based) on.
std::string DoubleSwitchChars(std::string_view text, std::size_t from) {
  std::string out(text.substr(0, from));
  for (char c : text.substr(from)) {
    out += c;
    if (c == kSwitchChar) out += kSwitchChar;
  }
  return out;
}

// 0-based position of separator + name in the switch text, compared in upper case.
std::size_t FindSwitch(std::string_view name, std::string_view switchText) {
  return UpStr(switchText).find(kSwitchSep + UpStr(name));
}

bool FindIn(std::string_view name, std::string_view switchText) {
  return FindSwitch(name, switchText) != std::string::npos;
}

std::string TailIn(std::string_view name, std::string_view switchText) {
  const std::size_t at = FindSwitch(name, switchText);
  if (at == std::string::npos) return {};
  const std::string_view tail = switchText.substr(at + 1 + name.size());
  return ShortStr(tail.substr(0, tail.find(kSwitchSep)));
}

std::string SwitchTextOf(std::string_view text) {
  return text == kRealCommandLine ? CmdSwitchLine() : SplitSwitchText(text);
}

std::string WithSwitchChar(std::string_view name) {
  return StartsWith(name, std::string(1, kSwitchChar)) ? std::string(name) : kSwitchChar + std::string(name);
}

}  // namespace

std::string SplitSwitchText(std::string_view text) {
  return Split(ShortStr(text));
}

std::string CmdSwitchLine() {
  std::string line;
  for (const std::string& arg : os::Arguments()) {
    if (arg.empty() || arg.front() != kSwitchChar) continue;
    const bool continuation = arg.size() > 1 && arg[1] == kSwitchChar;
    if (continuation && !line.empty()) line.back() = ' ';
    // Only the leading switch character starts a switch: inner ones are
    // literal, so /P/srv/upd/ names a Linux directory.
    line += DoubleSwitchChars(arg, continuation ? 2 : 1);
    line += kSwitchSep;
  }
  return Split(line);
}

bool FindCmdSwitch(std::string_view name, std::string_view switchText) {
  return FindIn(name, switchText == kRealCommandLine ? CmdSwitchLine() : std::string(switchText));
}

std::string CmdSwitchTail(std::string_view name, std::string_view switchText) {
  return TailIn(name, switchText == kRealCommandLine ? CmdSwitchLine() : std::string(switchText));
}

bool CmdSwitchPresent(std::string_view name, std::string_view text) {
  return FindIn(WithSwitchChar(name), SwitchTextOf(text));
}

std::string CmdSwitchText(std::string_view name, std::string_view text) {
  return TailIn(WithSwitchChar(name), SwitchTextOf(text));
}
