#include "app/list/update_list.h"

#include <cstdio>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "app/context/run_context.h"
#include "support/std_text_capture.h"
#include "support/virtual_clock.h"

namespace {

const std::string kBlock1 =
    "<update id=\"TVQ 2024-01-10\">\r\n<files>\r\na.txt:100:1\\\r\nb.txt:x:2\\\r\n</files>\r\n</update>";
const std::string kBlock2 =
    "<update id=\"TVQ 2024-02-20\">\r\n<files>\r\nc.txt:30:3\\\r\nd.txt:12:4\\\r\n</files>\r\n</update>";
const std::string kList = kBlock1 + "\r\n" + kBlock2;

// A settings look-up answering from a map, else with the keySpec's default.
struct FakeSettings {
  std::map<std::string, std::string> values;
  int lookups = 0;
  SettingLookup Lookup() {
    return [this](std::string_view keySpec) {
      ++lookups;
      const std::string s(keySpec);
      const auto eq = s.find('=');
      const auto it = values.find(s.substr(0, eq));
      return it != values.end() ? it->second : s.substr(eq + 1);
    };
  }
};

TEST(UpdateList, StripFileSchemeRemovesOnlyTheScheme) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
#ifdef _WIN32
      {"file:///C:/upd/", "C:/upd/"},
      {"file:///x", "x"},
#else
      {"file:///srv/upd/", "/srv/upd/"},
      {"file:///x", "/x"},
#endif
      {"file://relative/dir/", "relative/dir/"},
      {"file://\\\\server\\share\\", "\\\\server\\share\\"},
      {"/srv/upd/", "/srv/upd/"},
      {"http://host/file://", "http://host/file://"},
      {"FILE://relative/dir/", "relative/dir/"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StripFileScheme(c.in), c.out) << c.in;
}

// A directory site is one whose address begins with the scheme: an
// internet address that merely holds "file://" stays an internet address.
TEST(UpdateList, IsLocalSiteLooksForTheSchemeAtTheStart) {
  struct Case {
    const char* site;
    bool local;
  } cases[] = {
      {"file:///srv/upd/", true},
      {"File:///srv/upd/", true},
      {"FILE://server/share/", true},
      {"http://host/x/file://", false},
      {"http://127.0.0.1:8080/get?from=file://x/", false},
      {"http://host/upd/", false},
      {" file:///srv/", false},
  };
  RunContext ctx;
  for (const auto& c : cases) {
    ctx.site = c.site;
    EXPECT_EQ(IsLocalSite(ctx), c.local) << c.site;
  }
}

TEST(UpdateList, TrimListRemovesBlanksAndControlsAtBothEnds) {
  RunContext ctx;
  ctx.updateInfo = std::string("\r\n \t\x01<update>\x7f x \x1f\r\n", 17);
  TrimList(ctx);
  EXPECT_EQ(ctx.updateInfo, "<update>\x7f x");
}

TEST(UpdateList, ValidationNeedsAllFourTags) {
  const std::string good = "<update id=\"1\"><files>a:1:1\\</files></update>";
  struct Case {
    std::string list;
    bool valid;
  } cases[] = {
      {good, true},
      {"  \r\n" + good + "\r\n", true},
      {"<update id=\"1\"><files>a:1:1\\</files>", false},
      {"<files>a:1:1\\</files></update>", false},
      {"<update id=\"1\">a:1:1\\</files></update>", false},
      {"<update id=\"1\"><files>a:1:1\\</update>", false},
      {"<html><body><h1>Not Found</h1></body></html>", false},
      {"", false},
  };
  for (auto& c : cases) {
    std::string list = c.list;
    EXPECT_EQ(ValidateUpdateList(list), c.valid) << c.list;
    EXPECT_EQ(list.empty(), !c.valid) << c.list;
  }
}

TEST(UpdateList, RecordedHeaderSelectsTheNextBlockAndCountsOnlyIt) {
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = "<update id=\"TVQ 2024-01-10\">";
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(kList, cfg.Lookup()), kBlock2);
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (all sets): 42"));
  EXPECT_TRUE(log.HasLine("c.txt:30:3"));
  EXPECT_FALSE(log.HasLine("a.txt:100:1"));
}

TEST(UpdateList, AbsentOrEmptyRecordSelectsTheFirstBlock) {
  StdTextCapture log;
  FakeSettings absent;
  EXPECT_EQ(SelectUpdate(kList, absent.Lookup()), kBlock1);
  FakeSettings empty;
  empty.values["LiveUpdate.lastUpdateInfo"] = "";
  EXPECT_EQ(SelectUpdate(kList, empty.Lookup()), kBlock1);
  // Both pending blocks are counted; the non-numeric size adds nothing.
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (all sets): 142"));
}

TEST(UpdateList, RecordNotFoundAndNotLowerDropsEveryBlock400MsEach) {
  VirtualClock clock;
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = "<update id=\"TVQ 2099-12-31\">";
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(kList, cfg.Lookup()), "");
  EXPECT_EQ(log.Count("ignoring an obsolete update from update-list\n"), 2);
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::int64_t>{400, 400}));
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (all sets): 0"));
}

TEST(UpdateList, ManyObsoleteBlocksPauseTwoSecondsInAll) {
  std::string list;
  for (int i = 0; i < 300; ++i) {
    char id[32];
    std::snprintf(id, sizeof id, "TVQ 2020-%05d", i);
    list += std::string("<update id=\"") + id + "\"><files>a.txt:1:1\\</files></update>\r\n";
  }
  VirtualClock clock;
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = "<update id=\"TVQ 2099-12-31\">";
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(list, cfg.Lookup()), "");
  EXPECT_EQ(log.Count("ignoring an obsolete update from update-list\n"), 300);
  // The first five pause 400 ms each, the rest none.
  EXPECT_EQ(clock.Sleeps(), std::vector<std::int64_t>(5, 400));
}

TEST(UpdateList, RecordNotFoundDropsOnlyTheOlderBlocks) {
  VirtualClock clock;
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = "<update id=\"TVQ 2024-01-15\">";
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(kList, cfg.Lookup()), kBlock2);
  EXPECT_EQ(log.Count("ignoring an obsolete update"), 1);
  EXPECT_EQ(clock.Sleeps().size(), 1u);
}

TEST(UpdateList, NoUpdateMarkerInTheListActsAsARecord) {
  const std::string list = "<update id=\"0\"><noupdate id=\"noupdate\"><files>z:1:1\\</files></update>\r\n" + kBlock2;
  FakeSettings cfg;
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(list, cfg.Lookup()), kBlock2);
}

TEST(UpdateList, RecordInTheLastBlockLeavesNothing) {
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = "<update id=\"TVQ 2024-02-20\">";
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(kList, cfg.Lookup()), "");
}

TEST(UpdateList, LocalListWholeBlockAsRecord) {
  // A list read from a directory holds the first block on one line.
  const std::string joined1 = "<update id=\"1\"><files>a:1:1\\</files></update>";
  const std::string joined2 = "<update id=\"2\"><files>b:2:2\\</files></update>";
  FakeSettings cfg;
  cfg.values["LiveUpdate.lastUpdateInfo"] = joined1;
  StdTextCapture log;
  EXPECT_EQ(SelectUpdate(joined1 + "\r\n" + joined2, cfg.Lookup()), joined2);
}

TEST(UpdateList, CountAllSetsLogsEntriesBehindTagsAndLineEnds) {
  StdTextCapture log;
  const std::string list =
      "<update id=\"1\">\r\n<files>\r\na.bin:3000000000:5\\\r\nb.bin:abc:6\\\r\nc.bin::7\\\r\n"
      "d.bin:2000000000\\\r\n</files>\r\n</update>";
  EXPECT_EQ(CountAllSetsBytes(list), 5000000000LL);
  for (const char* line : {"a.bin:3000000000:5", "b.bin:abc:6", "c.bin::7", "d.bin:2000000000"})
    EXPECT_TRUE(log.HasLine(line)) << line;
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (all sets): 5000000000"));
}

TEST(UpdateList, CountAllSetsHoldsAtTheLargestTotal) {
  StdTextCapture log;
  EXPECT_EQ(CountAllSetsBytes("<files>a:9000000000000000000:1\\b:9000000000000000000:1\\"),
            INT64_MAX);
}

}  // namespace
