#pragma once
// Language letter, language-tagged texts ("G:...;F:...;*:..."), messages
// with numbered placeholders and the error and information boxes.

#include <string>
#include <string_view>
#include <vector>

inline constexpr char kPartSep25 = '\x19';    // alternative part separator

// A text whose placeholders %1, %2, ... take the arguments in order. The
// arguments are any text (a path with any letters, '%', ';'): they are put
// in as they are and never read as placeholders or separators.
struct Message {
  std::string templateText;
  std::vector<std::string> args;
};

char DetectLanguage();
void SetLanguage(char letter);
char CurrentLanguage();

std::string LangText(std::string_view text, char separator = ';',
                     std::string_view alternatives = std::string_view("\x19", 1));
std::string LangTextOf(std::string_view t1, std::string_view t2 = {}, std::string_view t3 = {},
                       std::string_view t4 = {}, std::string_view t5 = {});
std::string LangPart(std::string_view text, char separator);
std::string SelectTaggedPart(std::string_view text, std::string_view defaultTag,
                             std::string_view tagSeparators, std::string_view partSeparators,
                             std::string_view tag, int fallbackTagLength, bool trimBlanks);

// The template with %n replaced by values[n-1]; a placeholder without a
// value ("%0", "%12" with fewer values, "%x") stays as written.
std::string FillPlaceholders(std::string_view templ, const std::vector<std::string>& values);
// The message's template with its arguments filled in.
std::string MessageText(const Message& message);

// Modal boxes through the installed user interface; always true. A text is
// shown as it is; an empty error text shows the caption's word.
bool ErrorBox(std::string_view text);
bool ErrorBox(const Message& message);
bool InfoBox(std::string_view text);
