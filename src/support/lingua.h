#pragma once
// Language letter, language-tagged texts ("G:...;F:...;*:..."), packed
// messages (template, character 0, then per argument character 209, one digit
// and the text) and the error and information boxes.

#include <string>
#include <string_view>
#include <vector>

inline constexpr char kArgMark = '\xD1';      // character 209
inline constexpr char kTemplateEnd = '\0';    // ends the template
inline constexpr char kPartSep25 = '\x19';    // alternative part separator
// The tail of a message literal that takes arguments: the caller appends the
// first argument directly behind it.
inline const std::string kArg1 = std::string(1, kTemplateEnd) + kArgMark + "1";
// Appends argument n (2..9) to a packed message.
std::string ArgN(int n, std::string_view text);

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

std::string StrBuild(std::string_view message);
std::string FillPlaceholders(std::string_view templ, const std::vector<std::string>& values);

// Modal boxes through the installed user interface; always true.
bool ErrorBox(std::string_view message);
bool InfoBox(std::string_view message);
