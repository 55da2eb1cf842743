#include "support/lingua.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "support/recording_user_interface.h"
#include "support/scoped_env.h"
#include "support/ui_hooks.h"

namespace {

using namespace std::string_literals;

// Keeps the process-wide language letter as the test found it.
class Lingua : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = CurrentLanguage(); }
  void TearDown() override { SetLanguage(saved_); }

 private:
  char saved_ = 'G';
};

struct LangCase {
  char lang;
  std::string text, want;
};

TEST_F(Lingua, LangTextSelectsCurrentLanguageOrDefault) {
  const std::string wait = "G:Bitte warten;F:Patientez SVP;*:Please wait";
  const std::string error = "G:Fehler;F:Erreur;I:Errore;*:Error";
  const LangCase cases[] = {
      {'G', wait, "Bitte warten"},
      {'F', wait, "Patientez SVP"},
      {'I', wait, "Please wait"},
      {'S', wait, "Please wait"},
      {'E', wait, "Please wait"},
      {'I', error, "Errore"},
      {'S', error, "Error"},
      {'E', "G:Vorhergehende Einstellungen behalten?;F:Conserver?", "Vorhergehende Einstellungen behalten?"},
      {'G', "G:Fehler: das Update kann nicht installiert werden;*:x",
       "Fehler: das Update kann nicht installiert werden"},
      {'G', "G: a ;F: b", "a"},
      {'F', "G: a ;F: b", "b"},
      {'F', "G:x; F:y", "y"},
      {'G', " G:x;F:y", "G:x"},  // a blank before the first tag hides it
      {'E', "", ""},
      {'E', "a;b", "a"},
      {'E', "x:abc", "abc"},   // one-letter tag-like prefix of an untagged text
      {'E', ":abc", "abc"},
      {'E', "ab:c", "ab:c"},   // longer prefix stays
      {'F', "*:Error;F:Erreur", "Erreur"},  // parts in any order
      {'g', "G:upper;*:default", "default"},  // tags are case-sensitive
      {'E', "\x19G:x\x19" "F:y", ""},         // leading separator 25: empty first part
      {'F', "\x19G:x;y\x19" "F:y;z", "y;z"},
  };
  for (const auto& c : cases) {
    SetLanguage(c.lang);
    EXPECT_EQ(LangText(c.text), c.want) << c.lang << " / " << c.text;
  }
}

TEST_F(Lingua, LangTextOfJoinsWithSeparator25) {
  const std::string de = "*:Pers\xc3\xb6nliche Einstellungen werden \xc3\xbc" "bernommen";
  const std::string fr = "F:Reprise de la configuration personnelle en cours";
  const LangCase cases[] = {
      {'G', "", de.substr(2)},
      {'E', "", de.substr(2)},
      {'F', "", fr.substr(2)},
  };
  for (const auto& c : cases) {
    SetLanguage(c.lang);
    EXPECT_EQ(LangTextOf(de, fr), c.want) << c.lang;
  }
  SetLanguage('F');
  EXPECT_EQ(LangTextOf("G:a;b", "F:c;d", "*:e"), "c;d");
  // An empty first piece does not open the text with a separator, so the
  // first real part stays the fallback.
  SetLanguage('E');
  EXPECT_EQ(LangTextOf("", "G:erst", "F:deux"), "erst");
}

TEST_F(Lingua, SelectTaggedPartGeneralForm) {
  // Several separators, a longer fallback tag, no trimming.
  EXPECT_EQ(SelectTaggedPart("EN=one|DE=zwei", "*", "=", "|", "DE", 2, false), "zwei");
  EXPECT_EQ(SelectTaggedPart("EN= one |DE=zwei", "*", "=", "|", "XX", 2, false), " one ");
  EXPECT_EQ(SelectTaggedPart("ENG=one|DE=zwei", "*", "=", "|", "XX", 2, false), "ENG=one");
  EXPECT_EQ(SelectTaggedPart("a:1,b=2", "*", ":=", ",;", "b", 1, true), "2");
  EXPECT_EQ(SelectTaggedPart("a:1;*=2", "*", ":=", ",;", "z", 1, true), "2");
}

// Paths as users have them: every UTF-8 lead byte of Cyrillic, CJK and emoji
// letters must reach the text whole.
const std::string kCyrillicPath = "C:\\Users\\Пётр\\AppData\\Local\\Программа";
const std::string kCjkPath = "/home/山田太郎/アプリ/更新";
const std::string kEmojiPath = "/srv/📦 updates/🚀/tvq.exe";

TEST_F(Lingua, MessageArgumentsArriveWhole) {
  struct Case {
    Message message;
    std::string want;
  } cases[] = {
      {{"Copy %1 to %2", {"a.txt", "b.txt"}}, "Copy a.txt to b.txt"},
      {{"Cannot create \"%1\"", {kCyrillicPath}}, "Cannot create \"" + kCyrillicPath + "\""},
      {{"%1 | %2 | %3", {kCyrillicPath, kCjkPath, kEmojiPath}},
       kCyrillicPath + " | " + kCjkPath + " | " + kEmojiPath},
      {{"%2/%1", {"ёжик", "щука"}}, "щука/ёжик"},
      // Arguments are never read again: placeholders, separators, bytes 0
      // and 209 inside them stay.
      {{"%1 and %2", {"%2", "x"}}, "%2 and x"},
      {{"%1", {"G:a;F:b"}}, "G:a;F:b"},
      {{"%1", {"a\0b\xD1" "2c"s}}, "a\0b\xD1" "2c"s},
      {{"%1 %2", {"only one"}}, "only one %2"},
      {{"no args %1", {}}, "no args %1"},
      {{"Пётр %1", {"山"}}, "Пётр 山"},
      {{"", {"x"}}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageText(c.message), c.want) << c.message.templateText;
}

TEST_F(Lingua, FillPlaceholdersLeavesUnknownPlaceholders) {
  const std::vector<std::string> two = {"A", "B"};
  struct Case {
    std::string templ, want;
  } cases[] = {
      {"100%", "100%"}, {"%%", "%%"},     {"%0", "%0"},   {"%x", "%x"},   {"%12", "%12"},
      {"%1%2", "AB"},   {"%3", "%3"},     {"%1x", "Ax"},  {"%", "%"},     {"a\0%1"s, "a\0A"s},
  };
  for (const auto& c : cases) EXPECT_EQ(FillPlaceholders(c.templ, two), c.want) << c.templ;
  std::vector<std::string> twelve(12);
  twelve[11] = "L";
  twelve[0] = "A";
  EXPECT_EQ(FillPlaceholders("%12/%10/%1", twelve), "L//A");
}

TEST_F(Lingua, ErrorBoxShowsLanguageWordAndFlags) {
  RecordingUserInterface ui;
  const LangCase cases[] = {{'G', "", "Fehler"}, {'F', "", "Erreur"}, {'I', "", "Errore"}, {'E', "", "Error"}};
  for (const auto& c : cases) {
    SetLanguage(c.lang);
    ui.boxes.clear();
    ErrorBox("");
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, c.want) << c.lang;
    EXPECT_EQ(ui.boxes[0].caption, c.want) << c.lang;
    EXPECT_EQ(ui.boxes[0].flags, 0x50030u);
  }
}

TEST_F(Lingua, ErrorBoxShowsPathsOfAnyScriptWhole) {
  RecordingUserInterface ui;
  SetLanguage('E');
  for (const std::string& path : {kCyrillicPath, kCjkPath, kEmojiPath}) {
    ui.boxes.clear();
    ErrorBox(Message{"cannot write \"%1\" (%2)", {path, "Отказано в доступе"}});
    ASSERT_EQ(ui.boxes.size(), 1u) << path;
    EXPECT_EQ(ui.boxes[0].text, "cannot write \"" + path + "\" (Отказано в доступе)");
    EXPECT_EQ(ui.boxes[0].caption, "Error");
  }
  // A plain text is shown as it is, placeholders and all.
  ui.boxes.clear();
  ErrorBox("cannot copy \"" + kCyrillicPath + "\" to \"%1\"");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "cannot copy \"" + kCyrillicPath + "\" to \"%1\"");
}

TEST_F(Lingua, InfoBoxHasNoCaptionAndNoIcon) {
  RecordingUserInterface ui;
  InfoBox("downloading: " + kEmojiPath);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "downloading: " + kEmojiPath);
  EXPECT_EQ(ui.boxes[0].caption, "");
  EXPECT_EQ(ui.boxes[0].flags, 0x50000u);
}

TEST_F(Lingua, LanguageFromEnvironment) {
  ScopedEnv vars[] = {ScopedEnv("LC_ALL"), ScopedEnv("LC_MESSAGES"), ScopedEnv("LANG")};
  struct Case {
    std::string lcAll, lcMessages, lang;
    char want;
  } cases[] = {
      {"", "", "de_DE.UTF-8", 'G'}, {"", "", "fr_CA", 'F'},      {"", "", "es_ES", 'S'},
      {"", "", "it_IT.UTF-8", 'I'}, {"", "", "en_GB", 'E'},      {"", "", "nl_NL", 'E'},
      {"", "", "C", 'E'},           {"", "", "POSIX", 'E'},      {"", "", "C.UTF-8", 'E'},
      {"", "", "", 'E'},            {"fr_FR", "de_DE", "it_IT", 'F'}, {"", "de_DE", "it_IT", 'G'},
      {"", "", "DE", 'G'},
  };
  for (const auto& c : cases) {
    const std::string values[] = {c.lcAll, c.lcMessages, c.lang};
    for (int i = 0; i < 3; ++i)
      vars[i].Set(values[i].empty() ? std::nullopt : std::optional<std::string>(values[i]));
    EXPECT_EQ(DetectLanguage(), c.want) << c.lcAll << "/" << c.lcMessages << "/" << c.lang;
  }
}

}  // namespace
