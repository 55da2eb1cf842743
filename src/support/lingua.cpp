#include "support/lingua.h"

#include "platform/os.h"
#include "support/strfn.h"
#include "support/ui_hooks.h"

namespace {

// The language letter: 'G' until start-up sets it from the user's language.
char currentLanguage = 'G';

constexpr std::string_view kErrorWords = "G:Fehler;F:Erreur;I:Errore;*:Error";
constexpr unsigned kErrorBoxFlags = kMbIconExclamation | kMbSetForeground | kMbTopmost;
constexpr unsigned kInfoBoxFlags = kMbOk | kMbSetForeground | kMbTopmost;

// Where the part of tag begins (1-based), 0 when the text has none.
int FindTag(std::string_view text, std::string_view tag, std::string_view tagSeps,
            std::string_view partSeps) {
  for (char ts : tagSeps)
    if (StartsWith(text, std::string(tag) + ts)) return 1;
  for (std::string_view gap : {std::string_view(), std::string_view(" ")}) {
    for (char ps : partSeps) {
      for (char ts : tagSeps) {
        const int c = Pos(std::string(1, ps) + std::string(gap) + std::string(tag) + ts, text);
        if (c != 0) return c;
      }
    }
  }
  return 0;
}

}  // namespace

char DetectLanguage() {
  const std::string name = UpStr(FirstChars(os::UserLanguageSetting(), 2));
  if (name == "DE") return 'G';
  if (name == "FR") return 'F';
  if (name == "ES") return 'S';
  if (name == "IT") return 'I';
  return 'E';  // English, every other language, unset, "C" and "POSIX"
}

void SetLanguage(char letter) {
  currentLanguage = letter;
}

char CurrentLanguage() {
  return currentLanguage;
}

std::string LangText(std::string_view text, char separator, std::string_view alternatives) {
  if (!text.empty() && alternatives.find(text.front()) != std::string_view::npos) separator = text.front();
  return LangPart(text, separator);
}

std::string LangTextOf(std::string_view t1, std::string_view t2, std::string_view t3,
                       std::string_view t4, std::string_view t5) {
  std::string joined(t1);
  for (std::string_view t : {t2, t3, t4, t5}) {
    if (t.empty()) continue;
    if (!joined.empty() && joined.back() != kPartSep25) joined += kPartSep25;
    joined += t;
  }
  return LangPart(joined, kPartSep25);
}

std::string LangPart(std::string_view text, char separator) {
  return SelectTaggedPart(text, "*", ":", std::string(1, separator), std::string(1, currentLanguage), 1, true);
}

std::string SelectTaggedPart(std::string_view text, std::string_view defaultTag,
                             std::string_view tagSeparators, std::string_view partSeparators,
                             std::string_view tag, int fallbackTagLength, bool trimBlanks) {
  int c = FindTag(text, tag, tagSeparators, partSeparators);
  if (c == 0) c = FindTag(text, defaultTag, tagSeparators, partSeparators);
  const bool found = c != 0;
  std::string result = RestFrom(text, c + 1);
  for (char ps : partSeparators) {
    const std::size_t at = result.find(ps);
    if (at != std::string::npos) result.erase(at);
  }
  for (char ts : tagSeparators) {
    const int e = Pos(std::string(1, ts), result);
    // Without a found tag only a short tag-like prefix of the first part goes.
    if (found ? e >= 1 : (e >= 1 && e <= fallbackTagLength + 1)) result.erase(0, e);
  }
  return trimBlanks ? TrimBlanks(result) : result;
}

std::string FillPlaceholders(std::string_view templ, const std::vector<std::string>& values) {
  std::string out;
  out.reserve(templ.size());
  std::size_t i = 0;
  while (i < templ.size()) {
    const char c = templ[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    std::size_t end = i;
    if (end < templ.size() && templ[end] >= '1' && templ[end] <= '9')
      while (end < templ.size() && templ[end] >= '0' && templ[end] <= '9') ++end;
    const std::string_view digits = templ.substr(i, end - i);
    const std::int64_t n = digits.empty() ? 0 : IntOfDef(digits, 0);
    if (n >= 1 && n <= static_cast<std::int64_t>(values.size()))
      out += values[n - 1];
    else
      out.append("%").append(digits);
    i = end;
  }
  return out;
}

std::string MessageText(const Message& message) {
  return FillPlaceholders(message.templateText, message.args);
}

bool ErrorBox(std::string_view text) {
  const std::string caption = LangText(kErrorWords);
  const std::string shown = text.empty() ? caption : std::string(text);
  CurrentUserInterface().MessageBox(shown, caption, kErrorBoxFlags);
  return true;
}

bool ErrorBox(const Message& message) {
  return ErrorBox(MessageText(message));
}

bool InfoBox(std::string_view text) {
  CurrentUserInterface().MessageBox(std::string(text), std::string(), kInfoBoxFlags);
  return true;
}
