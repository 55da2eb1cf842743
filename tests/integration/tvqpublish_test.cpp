// The publisher's tool, run as a program; its sites read back by the
// updater's own list reading and download.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/fetch/download.h"
#include "app/list/update_list.h"
#include "publish/site_list.h"
#include "support/http_test_server.h"
#include "support/lz_file.h"
#include "support/transfer_fixture.h"
#include "support/virtual_clock.h"

namespace {

struct ToolRun {
  int code = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class TvqPublishTest : public TransferFixture {
 protected:
  ToolRun Publish(const std::vector<std::string>& args) {
    std::string cmd = Quote(std::string(TVQ_BINARY_DIR) + "/tvqpublish");
    for (const auto& a : args) cmd += " " + Quote(a);
    const std::string out = root / "out.txt";
    const std::string err = root / "err.txt";
    const std::string rc = root / "rc.txt";
    cmd += " >" + Quote(out) + " 2>" + Quote(err) + "; echo $? >" + Quote(rc);
    ToolRun r;
    if (std::system(cmd.c_str()) != 0) return r;
    r.code = std::stoi(ReadFile(rc));
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }
  std::string Src(const std::string& name, const std::string& content) {
    WriteFile(src / name, content);
    return src / name;
  }
  std::string SitePath(const std::string& name) const { return siteDir + "/" + name; }

  ScratchDir src;
  ScratchDir sites;
  std::string siteDir = sites / "site";
};

TEST_F(TvqPublishTest, AddMakesASiteThatTheUpdaterAccepts) {
  const ToolRun r1 = Publish({"add", siteDir, "--id", "TVQ 2024-05-01", Src("viewer.exe", "new program"),
                          Src("tvq.ini", "[Main]\r\n")});
  ASSERT_EQ(r1.code, 0) << r1.err;
  const ToolRun r2 = Publish({"add", siteDir, "--id=TVQ 2024-06-13", Src("viewer.exe", "newer program") + "~",
                          Src("notes.txt", "what changed")});
  ASSERT_EQ(r2.code, 0) << r2.err;

  const std::string list = ReadFile(SitePath(kUpdateListName));
  EXPECT_EQ(list.substr(0, 35), "<update id=\"TVQ 2024-05-01\">\r\n<file");
  EXPECT_NE(list.find("\r\nviewer.exe~:13:"), std::string::npos);
  EXPECT_EQ(ReadFile(SitePath("viewer.exe~")), "newer program");
  for (std::size_t at = list.find('\n'); at != std::string::npos; at = list.find('\n', at + 1))
    EXPECT_EQ(list[at - 1], '\r');
  EXPECT_EQ(Publish({"verify", siteDir}).code, 0);

  // Read back over HTTP and from the directory, both updates in turn.
  HttpTestServer server(siteDir);
  VirtualClock clock;
  for (const std::string& address : {server.BaseUrl(), "file://" + siteDir + "/"}) {
    CfgPutStr("LiveUpdate.lastUpdateInfo", "");
    RunContext ctx;
    ctx.site = address;
    ASSERT_TRUE(GetUpdateList(ctx).ok()) << address;
    EXPECT_NE(ctx.updateInfo.find("2024-05-01"), std::string::npos);
    ASSERT_TRUE(DownloadUpdateFiles(ctx).ok()) << address;
    EXPECT_EQ(ReadFile(W("viewer.exe")), "new program");
    Record(ctx.updateInfo.substr(0, ctx.updateInfo.find('\r')));
    ASSERT_TRUE(GetUpdateList(ctx).ok()) << address;
    EXPECT_NE(ctx.updateInfo.find("2024-06-13"), std::string::npos);
    ASSERT_TRUE(DownloadUpdateFiles(ctx).ok()) << address;
    EXPECT_EQ(ReadFile(W("viewer.exe")), "newer program");
    EXPECT_EQ(ReadFile(W("notes.txt")), "what changed");
  }
}

TEST_F(TvqPublishTest, RefusalsChangeNothing) {
  ASSERT_EQ(Publish({"add", siteDir, "--id", "2024-05-01", Src("a.txt", "a")}).code, 0);
  const std::string before = ReadFile(SitePath(kUpdateListName));
  struct Case {
    std::vector<std::string> args;
    const char* why;
  } cases[] = {
      {{"add", siteDir, "--id", "2024-05-01", Src("b.txt", "b")}, "does not sort after"},
      {{"add", siteDir, "--id", "2024-04-30", Src("b.txt", "b")}, "does not sort after"},
      {{"add", siteDir, "--id", "2024-06-01", src / "missing.txt"}, "no such file"},
      {{"add", siteDir, "--id", "2024-06-01", Src("b.txt", "b"), Src("back\\slash", "x")}, "plain file name"},
      {{"add", siteDir, "--id", "2024-06-01", Src("c:d", "x")}, "plain file name"},
      {{"add", siteDir, "--id", "2024-06-01", Src("ctl\x01", "x")}, "plain file name"},
      {{"add", siteDir, "--id", "2024-06-01", Src("b.txt", "b"), Src("b.txt~", "b")}, "given twice"},
      {{"add", siteDir, "--id", "2024-06-01", Src("!update-info.txt", "x")}, "may not be named"},
      {{"add", siteDir, "--id", "2024-06-01", Src("!site-history.txt", "x")}, "may not be named"},
      {{"withdraw", siteDir, "--id", "2024-04-01"}, "no update \"2024-04-01\""},
      {{"withdraw", siteDir, "--id", "2024-05-01", Src("b.txt", "b")}, "usage"},
      // The updater reads 255 characters of an entry; the rest would be lost.
      {{"add", siteDir, "--id", "2024-06-01", Src("b.txt", "b"), Src(std::string(252, 'n'), "x")},
       "at most 255 characters"},
      {{"add", siteDir, "--id", "bad\"id", Src("b.txt", "b")}, "ID"},
      {{"add", siteDir, "--id", "", Src("b.txt", "b")}, "ID"},
      {{"add", siteDir, Src("b.txt", "b")}, "usage"},
      {{"add", siteDir, "--id", "2024-06-01"}, "usage"},
  };
  for (const auto& c : cases) {
    const ToolRun r = Publish(c.args);
    EXPECT_EQ(r.code, 2) << c.why;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(SitePath(kUpdateListName)), before) << c.why;
    EXPECT_FALSE(PathExists(SitePath("b.txt"))) << c.why;
  }
}

TEST_F(TvqPublishTest, RefusesToExtendAFileThatIsNoList) {
  os::MakeDirectories(siteDir);
  WriteFile(SitePath(kUpdateListName), "<html>not a list</html>");
  const ToolRun r = Publish({"add", siteDir, "--id", "1", Src("a.txt", "a")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(ReadFile(SitePath(kUpdateListName)), "<html>not a list</html>");
}

TEST_F(TvqPublishTest, ChecksumPrintsTheListEntry) {
  const ToolRun r = Publish({"checksum", Src("abc", "abc"), Src("empty", "")});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "abc:3:12526584\nempty:0:0\n");
  const ToolRun missing = Publish({"checksum", src / "nope"});
  EXPECT_EQ(missing.code, 2);
  EXPECT_NE(missing.err.find("nope: no such file"), std::string::npos);
}

// A name gets new content as often as the maker likes: the updates that
// listed it before are retired and what they alone delivered moves on.
TEST_F(TvqPublishTest, SuccessiveVersionsRetireCarryAndWithdraw) {
  ASSERT_EQ(Publish({"add", siteDir, "--id", "1", Src("readme.txt", "first"), Src("data.txt", "data")}).code, 0);
  ToolRun r = Publish({"add", siteDir, "--id", "2", Src("readme.txt", "second")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("retired update \"1\"\n  carried data.txt from update \"1\" into update \"2\""),
            std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(SitePath("readme.txt")), "second");
  EXPECT_EQ(ListBlocks(ReadFile(SitePath(kUpdateListName))).size(), 1u);
  ASSERT_EQ(Publish({"add", siteDir, "--id", "3", Src("readme.txt", "third")}).code, 0);
  EXPECT_EQ(Publish({"verify", siteDir}).code, 0);

  // A new updater is retired only when the maker says so; it is carried on.
  ASSERT_EQ(Publish({"add", siteDir, "--id", "4", Src("tvqlupd.ex_", "a new updater"), Src("help.txt", "h1")}).code, 0);
  const std::string list = ReadFile(SitePath(kUpdateListName));
  r = Publish({"add", siteDir, "--id", "5", Src("help.txt", "h2")});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("a new updater (tvqlupd.ex_); retiring it"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--retire"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(SitePath(kUpdateListName)), list);
  EXPECT_EQ(ReadFile(SitePath("help.txt")), "h1");
  r = Publish({"add", siteDir, "--id", "5", Src("help.txt", "h2"), "--retire"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("carried tvqlupd.ex_ from update \"4\" into update \"5\""), std::string::npos) << r.out;

  // An update with its own installation program is never retired.
  ASSERT_EQ(Publish({"add", siteDir, "--id", "6", Src("!update.exe", "setup"), Src("payload.cab", "p1")}).code, 0);
  r = Publish({"add", siteDir, "--id", "7", Src("payload.cab", "p2"), "--retire"});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("installation program (!update.exe)"), std::string::npos) << r.err;

  // Withdrawn: its files go, and no later update may sort before it.
  r = Publish({"withdraw", siteDir, "--id", "6"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("removed payload.cab from the site"), std::string::npos) << r.out;
  EXPECT_FALSE(PathExists(SitePath("!update.exe")));
  EXPECT_EQ(Publish({"verify", siteDir}).code, 0);
  EXPECT_NE(Publish({"add", siteDir, "--id", "5b", Src("x.txt", "x")}).err.find("the withdrawn block"),
            std::string::npos);
  EXPECT_EQ(Publish({"withdraw", siteDir, "--id", "6"}).code, 2);
  ASSERT_EQ(Publish({"add", siteDir, "--id", "6b", Src("x.txt", "x")}).code, 0);
}

// The main application as it is built is packed into tvq.ex_, which the
// updater expands back to it.
TEST_F(TvqPublishTest, AddPacksTheMainApplication) {
  const std::string program = "#!/bin/sh\necho the main application, built today\n";
  const ToolRun r = Publish({"add", siteDir, "--id", "1", Src("tvq.exe", program), Src("tiny.exe", "x")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("packed tvq.exe into tvq.ex_"), std::string::npos) << r.out;
  EXPECT_FALSE(PathExists(SitePath("tvq.exe")));
  EXPECT_EQ(ReadFile(SitePath("tvq.ex_")).substr(0, 4), "SZDD");
  ASSERT_TRUE(ExpandLzFile(SitePath("tvq.ex_"), src / "expanded").ok());
  EXPECT_EQ(ReadFile(src / "expanded"), program);
  // Too small for the packer: stored as it is, which the updater installs unchanged.
  ASSERT_EQ(Publish({"add", siteDir, "--id", "2", Src("tvq.exe", "tiny")}).code, 0);
  EXPECT_EQ(ReadFile(SitePath("tvq.ex_")), "tiny");
  EXPECT_EQ(Publish({"verify", siteDir}).code, 0);
}

TEST_F(TvqPublishTest, VerifyChecksEveryBlockAndNamesWhereInstallationsStop) {
  ASSERT_EQ(Publish({"add", siteDir, "--id", "1", Src("a.txt", "aaaa"), Src("b.txt", "bbbb")}).code, 0);
  ASSERT_EQ(Publish({"add", siteDir, "--id", "2", Src("c.txt", "cccc")}).code, 0);
  ASSERT_EQ(Publish({"add", siteDir, "--id", "3", Src("d.txt", "dddd")}).code, 0);
  EXPECT_EQ(Publish({"verify", siteDir}).code, 0);
  // A later update that replaced a.txt by hand, as an overwrite used to.
  WriteFile(SitePath("a.txt"), "AAAAA");
  WriteFile(SitePath(kUpdateListName), ReadFile(SitePath(kUpdateListName)) +
                                           MakeBlock("4", {EntryOfFile("a.txt", SitePath("a.txt"))}));
  WriteFile(SitePath("c.txt"), "cccX");
  const ToolRun r = Publish({"verify", siteDir});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("update \"1\": a.txt: size 4 listed, 5 found"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("update \"1\": cannot be installed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("update \"2\": c.txt: checksum"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("update \"2\": cannot be installed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("update \"3\": cannot"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("update \"4\": cannot"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("a fresh installation stops at update \"1\" and never reaches the 3 updates "
                       "after it"),
            std::string::npos)
      << r.out;
  std::remove(SitePath("d.txt").c_str());
  EXPECT_NE(Publish({"verify", siteDir}).out.find("update \"3\": d.txt: missing from the site"),
            std::string::npos);
}

TEST_F(TvqPublishTest, VerifyFindsBadNamesAndOrder) {
  os::MakeDirectories(siteDir);
  WriteFile(SitePath(kUpdateListName),
            "<update id=\"2\">\r\n<files>\r\n../x:1:1\\\r\n</files>\r\n</update>\r\n"
            "<update id=\"1\">\r\n<files>\r\n</files>\r\n</update>\r\n");
  const ToolRun r = Publish({"verify", siteDir});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("\"../x\" is not a plain file name"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("does not sort after"), std::string::npos) << r.out;
  EXPECT_EQ(Publish({"verify", sites / "none"}).code, 1);
}

TEST_F(TvqPublishTest, HelpOnEveryCommand) {
  for (const char* command : {"add", "withdraw", "checksum", "verify", "keygen", "sign"}) {
    const ToolRun r = Publish({command, "--help"});
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_NE(r.out.find(std::string("usage: tvqpublish ") + command), std::string::npos) << command;
  }
  EXPECT_EQ(Publish({"--help"}).code, 0);
  const ToolRun bad = Publish({"frobnicate"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("unknown command"), std::string::npos);
}

}  // namespace
