// GetUpdateList over HTTP (the in-process server) and from file:// sites.
#include "app/list/update_list.h"

#include <string>

#include <gtest/gtest.h>

#include "support/http_test_server.h"
#include "support/machine_proxy.h"
#include "support/site_builder.h"
#include "support/transfer_fixture.h"

namespace {

class UpdateListTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    a = site.AddFile("a.txt", "first file");
    b = site.AddFile("b.txt", "second file, longer");
  }
  ScratchDir siteDir;
  SiteBuilder site{siteDir.path()};
  HttpTestServer server{siteDir.path()};
  FileEntry a, b;
  RunContext ctx;
};

TEST_F(UpdateListTest, InternetListSelectsTheBlockAfterTheRecordedHeader) {
  const std::string h1 = site.AddUpdate("2024-01-10", {a});
  site.AddUpdate("2024-02-20", {b});
  Record(h1);
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "<update id=\"2024-02-20\">\r\n<files>\r\n" + EntryText(b) +
                                "\\\r\n</files>\r\n</update>");
  EXPECT_TRUE(log.HasLine("total bytes to be downloaded (all sets): " + std::to_string(b.size)));
  // The work file is gone, so a later failed reading cannot reuse it.
  EXPECT_FALSE(PathExists(W(kUpdateListName)));
  EXPECT_EQ(server.Requests().at(0).name, "!update-info.txt");
}

TEST_F(UpdateListTest, NothingNewIsStillASuccess) {
  site.AddUpdate("2024-01-10", {a});
  const std::string h2 = site.AddUpdate("2024-02-20", {b});
  Record(h2);
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "");
}

TEST_F(UpdateListTest, ErrorPageInsteadOfTheListIsNoList) {
  site.AddUpdate("2024-01-10", {a});
  server.ServeErrorPage(kUpdateListName);
  ctx.site = server.BaseUrl();
  EXPECT_FALSE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "");
}

TEST_F(UpdateListTest, EmptyAnswerIsNoListAndTheNextMethodIsTried) {
  site.AddUpdate("2024-01-10", {a});
  ctx.site = server.BaseUrl();
  server.SetBody(kUpdateListName, "");
  EXPECT_EQ(GetUpdateList(ctx).message(), "the site sent an empty answer");
  EXPECT_EQ(server.RequestCount(kUpdateListName), 3);
  server.SetBodies(kUpdateListName, {"", site.ListText()});
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_NE(ctx.updateInfo.find("2024-01-10"), std::string::npos);
}

TEST_F(UpdateListTest, ListThatChangesBetweenReadings) {
  site.AddUpdate("2024-01-10", {a});
  const std::string first = site.ListText();
  site.AddUpdate("2024-02-20", {b});
  server.SetBodies(kUpdateListName, {first, site.ListText(), HttpTestServer::ErrorPage()});
  Record("<update id=\"2024-01-10\">");
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "");
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_NE(ctx.updateInfo.find("2024-02-20"), std::string::npos);
  // A failed third reading gives no list, not the one read before.
  EXPECT_FALSE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "");
}

TEST_F(UpdateListTest, DeadProxyStillReadsTheList) {
  site.AddUpdate("2024-01-10", {a});
  ScopedMachineProxy proxy(HttpTestServer::DeadPort());
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_NE(ctx.updateInfo.find("2024-01-10"), std::string::npos);
}

TEST_F(UpdateListTest, UnreachableSiteGivesNoList) {
  ctx.site = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  EXPECT_FALSE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "");
}

TEST_F(UpdateListTest, DirectorySiteJoinsLinesAndKeepsTheWholeFirstBlock) {
  site.SetList("<update id=\"1\">\r\n<files>a.txt:10:1\\</files>\r\n</update>\r\n"
               "<update id=\"2\">\n<files>b.txt:20:2\\</files>\n</update>\n");
  ctx.site = site.FileUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "<update id=\"1\"><files>a.txt:10:1\\</files></update>");
  EXPECT_TRUE(log.HasLine("Will update through local file system."));
  // After its installation the whole line is the record; the next reading
  // selects the second block.
  Record(ctx.updateInfo.substr(0, ctx.updateInfo.find('\r')));
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_EQ(ctx.updateInfo, "<update id=\"2\"><files>b.txt:20:2\\</files></update>");
  EXPECT_EQ(server.Requests().size(), 0u);
}

TEST_F(UpdateListTest, ReadLocalListPutsCrLfOnlyAfterTheFirstBlock) {
  WriteFile(site.Path("l.txt"), "<update>\r\nx\r\n</update>\r\n<update>\r\ny</update>\r\n<update>z\r\n</update>");
  std::string list;
  ASSERT_TRUE(ReadLocalList(site.Path("l.txt"), list).ok());
  EXPECT_EQ(list, "<update>x</update>\r\n<update>y</update><update>z</update>");
}

TEST_F(UpdateListTest, MissingListOnADirectorySite) {
  ctx.site = "file://" + siteDir.path() + "/nothing-here/";
  EXPECT_FALSE(GetUpdateList(ctx).ok());
  EXPECT_TRUE(log.HasLine("Cannot connect to the update site!"));
}

TEST_F(UpdateListTest, DirectorySiteReadsWithFileModeReadOnly) {
  site.AddUpdate("2024-01-10", {a});
  ASSERT_TRUE(os::SetPermissions(site.Path(kUpdateListName), 0444).ok());
  ctx.site = site.FileUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_NE(ctx.updateInfo.find("2024-01-10"), std::string::npos);
}

TEST_F(UpdateListTest, BadListsGiveNoListOrNoSizes) {
  struct Case {
    std::string list;
    bool ok;
  } cases[] = {
      {"just some text", false},
      {"<update id=\"1\">no files section</update>", false},
      {"<files>a:1:1\\</files>", false},
      {"<update id=\"1\"><files></files></update>", true},
      {"<update id=\"1\"><files>a.txt\\b.txt:\\:5:6\\c:xyz:q</files></update>", true},
      {std::string("<update id=\"1\"><files>\x01\x02\xff:1:1\\</files></update>"), true},
  };
  for (const auto& c : cases) {
    site.SetList(c.list);
    ctx.site = server.BaseUrl();
    EXPECT_EQ(GetUpdateList(ctx).ok(), c.ok) << c.list;
    ctx.site = site.FileUrl();
    EXPECT_EQ(GetUpdateList(ctx).ok(), c.ok) << c.list;
  }
}

TEST_F(UpdateListTest, TenMebibyteList) {
  std::string list;
  for (int i = 0; list.size() < (10u << 20); ++i) {
    char id[32];
    std::snprintf(id, sizeof id, "%08d", i);
    list += "<update id=\"" + std::string(id) + "\">\r\n<files>\r\nsome-file.bin:1000:1\\\r\n</files>\r\n</update>\r\n";
  }
  list += MakeBlock("99999999", {a});
  site.SetList(list);
  Record("<update id=\"00100000\">");
  ctx.site = server.BaseUrl();
  EXPECT_TRUE(GetUpdateList(ctx).ok());
  EXPECT_NE(ctx.updateInfo.find("<update id=\"00100001\">"), std::string::npos);
}

}  // namespace
