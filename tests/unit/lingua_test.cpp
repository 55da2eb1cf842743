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

TEST_F(Lingua, StrBuildFillsSlotsByDigit) {
  struct Case {
    std::string message, want;
  } cases[] = {
      {"Copy %1 to %2\0\xD1" "1a.txt\xD1" "2b.txt"s, "Copy a.txt to b.txt"},
      {"Copy %1 to %2\0\xD1" "2b.txt\xD1" "1a.txt"s, "Copy a.txt to b.txt"},
      {"%1 %2\0\xD1" "2x"s, " %2"},                  // one slot, digit 2 too large
      {"no args %1"s, "no args %1"},                  // no character 0
      {"%1-%1\0\xD1" "1x\xD1" "1y"s, "y-y"},           // a later digit overwrites
      {"%1|%2\0\xD1" "ax\xD1" "2b"s, "x|b"},            // no digit: slot 1
      {"%1\0\xD1" "1100%\xD1" "2"s, "100%"},            // '%' in an argument stays
      {"%1\0\xD1" "1a\0tail"s, "a"},                    // text after a second 0 is ignored
      {"a\xD1" "b %1\0\xD1" "1c"s, "a\xD1" "b c"},      // 209 inside the template stays
      {"%1 %2\0"s, "%1 %2"},
      {""s, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StrBuild(c.message), c.want) << c.message;
}

TEST_F(Lingua, ArgumentMarksBuildPackedMessages) {
  const std::string message = "Cannot create \"%1\" in %2" + kArg1 + "/tmp/x" + ArgN(2, "/tmp");
  EXPECT_EQ(message, "Cannot create \"%1\" in %2\0\xD1" "1/tmp/x\xD1" "2/tmp"s);
  EXPECT_EQ(StrBuild(message), "Cannot create \"/tmp/x\" in /tmp");
  EXPECT_EQ(ArgN(0, "x"), "");
  EXPECT_EQ(ArgN(10, "x"), "");
}

TEST_F(Lingua, FillPlaceholdersLeavesUnknownPlaceholders) {
  const std::vector<std::string> two = {"A", "B"};
  struct Case {
    std::string templ, want;
  } cases[] = {
      {"100%", "100%"}, {"%%", "%%"},     {"%0", "%0"},   {"%x", "%x"},   {"%12", "%12"},
      {"%1%2", "AB"},   {"%3", "%3"},     {"%1x", "Ax"},  {"%", "%"},     {"a\0%1"s, "a"},
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
  ui.boxes.clear();
  SetLanguage('E');
  ErrorBox("cannot write %1" + kArg1 + "/opt");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "cannot write /opt");
  EXPECT_EQ(ui.boxes[0].caption, "Error");
}

TEST_F(Lingua, InfoBoxHasNoCaptionAndNoIcon) {
  RecordingUserInterface ui;
  InfoBox("done %1" + kArg1 + "now");
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "done now");
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
