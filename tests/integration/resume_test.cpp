// Downloads that continue where an interrupted one stopped, against the
// in-process test server (which honours Range and If-Range unless a mode
// breaks it): only the rest is fetched from an honest server; a server that
// ignores Range, lies in its Content-Range or changed the file gets the
// whole file fetched again; a verified file is not fetched twice.
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "app/fetch/download.h"
#include "app/fetch/kept_downloads.h"
#include "app/run/run.h"
#include "support/http_test_server.h"
#include "support/site_builder.h"
#include "support/transfer_fixture.h"
#include "support/virtual_clock.h"

namespace {

constexpr std::size_t kSize = 400000;
const std::string kName = "data.bin";

// Presses Cancel once the download has passed a given byte count.
class CancellingDisplay : public RecordingDisplay {
 public:
  void Pump() override {
    RecordingDisplay::Pump();
    if (watched && watched->downloaded >= cancelAt) RequestCancel();
  }
  const RunProgress* watched = nullptr;  // the download's progress, while one is cancelled
  std::int64_t cancelAt = 0;
};

class ResumeTest : public HttpSiteFixture {
 protected:
  // A download of the site's data file cancelled at about half; returns the
  // bytes kept.
  std::int64_t DownloadCancelledAtHalf(const FileEntry& entry) {
    cancelling.cancelAt = static_cast<std::int64_t>(kSize / 2);
    server.Slow(kName, 8192, 2);
    RunContext ctx = HttpContext({entry});
    cancelling.watched = &ctx.progress;
    EXPECT_FALSE(DownloadUpdateFiles(ctx).ok());
    cancelling.watched = nullptr;
    ResetCancelForTests();
    server.ClearFaults();
    const std::int64_t kept = FileSize64(KeptDataPath(kName));
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, static_cast<std::int64_t>(kSize));
    return kept;
  }
  // The next run: the work directory prepared as a run does, then the download.
  bool NextRun(const std::vector<FileEntry>& entries) {
    EXPECT_TRUE(PrepareWorkDirectory().ok());
    RunContext ctx = HttpContext(entries);
    return DownloadUpdateFiles(ctx).ok();
  }
  const HttpTestServer::Request& LastRequest() {
    requests = server.Requests();
    return requests.back();
  }

  VirtualClock clock;
  CancellingDisplay cancelling;
  std::vector<HttpTestServer::Request> requests;
};

TEST_F(ResumeTest, ACancelledDownloadContinuesOnlyWhereTheServerConfirmsTheSameFile) {
  struct Case {
    const char* what;
    std::function<void(HttpTestServer&, SiteBuilder&)> between;
    bool continued;  // the rest only, under the same ETag
    bool askedAnew;  // the last request asked for the whole file
  } cases[] = {
      {"honest server", [](HttpTestServer&, SiteBuilder&) {}, true, false},
      // Answered whole to the request for the rest.
      {"ignores Range", [](HttpTestServer& s, SiteBuilder&) { s.IgnoreRange(kName); }, false, false},
      // Refused, and the next method asks for the whole file.
      {"206 starting elsewhere",
       [](HttpTestServer& s, SiteBuilder&) { s.LieAboutRange(kName, -1, 0); }, false, true},
      {"206 of another total",
       [](HttpTestServer& s, SiteBuilder&) { s.LieAboutRange(kName, 0, 1000); }, false, true},
      {"file changed behind an unchanged list",
       [](HttpTestServer&, SiteBuilder& b) {
         // Same bytes written anew: another date, so another ETag.
         const auto path = b.Path(kName);
         std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) +
                                                    std::chrono::seconds(5));
       },
       false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FileEntry entry = site.AddFile(kName, Pattern(kSize, 7));
    const std::int64_t kept = DownloadCancelledAtHalf(entry);
    const std::size_t sentBefore = server.BytesSent(kName);
    c.between(server, site);
    ASSERT_TRUE(NextRun({entry})) << log.Text();
    EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 7));
    const std::size_t sentAfter = server.BytesSent(kName) - sentBefore;
    const std::size_t rest = kSize - static_cast<std::size_t>(kept);
    if (c.continued) {
      // The rest, and at most the block the cancelled run still had in flight.
      EXPECT_GE(sentAfter, rest);
      EXPECT_LE(sentAfter, rest + 8192);
    } else {
      // Fetched whole: the kept bytes were never mixed with others.
      EXPECT_GE(sentAfter, kSize);
    }
    EXPECT_EQ(LastRequest().range, c.askedAnew ? "" : "bytes=" + std::to_string(kept) + "-");
    EXPECT_EQ(LastRequest().ifRange.empty(), c.askedAnew);
    server.ClearFaults();
    ForgetKeptDownloads();
  }
}

TEST_F(ResumeTest, ADownloadDroppedHalfwayContinuesWithTheNextMethod) {
  const FileEntry entry = site.AddFile(kName, Pattern(kSize, 3));
  server.DropAfter(kName, kSize / 2);
  RunContext ctx = HttpContext({entry});
  ASSERT_TRUE(DownloadUpdateFiles(ctx).ok()) << log.Text();
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 3));
  EXPECT_EQ(server.BytesSent(kName), kSize);
  EXPECT_EQ(LastRequest().range, "bytes=" + std::to_string(kSize / 2) + "-");
}

// All three methods of an attempt drop a quarter of the way: the last
// resort, which takes the file whole, never destroys the half the other two
// gathered, and the next attempt asks only for the rest.
TEST_F(ResumeTest, BytesGatheredSurviveTheLastResortDropping) {
  const FileEntry entry = site.AddFile(kName, Pattern(kSize, 5));
  server.DropAfter(kName, kSize / 4, 3);
  RunContext ctx = HttpContext({entry});
  ASSERT_TRUE(DownloadUpdateFiles(ctx).ok()) << log.Text();
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 5));
  EXPECT_EQ(LastRequest().range, "bytes=" + std::to_string(kSize / 2) + "-");
  EXPECT_EQ(server.RequestCount(kName), 4);
}

TEST_F(ResumeTest, AVerifiedFileIsNotFetchedAgainWhileTheListNamesItTheSame) {
  const FileEntry entry = site.AddFile(kName, Pattern(kSize, 5));
  ASSERT_TRUE(NextRun({entry}));
  // The installation failed: the next run has it without fetching.
  ASSERT_TRUE(NextRun({entry})) << log.Text();
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 5));
  EXPECT_EQ(server.RequestCount(kName), 1);
  // Kept bytes altered on disk fail the checks: deleted, and the next
  // attempt fetches the file whole.
  {
    std::ofstream out(KeptDataPath(kName), std::ios::binary | std::ios::in);
    out.seekp(10);
    out.put('\x01');
  }
  ASSERT_TRUE(NextRun({entry})) << log.Text();
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 5));
  EXPECT_EQ(server.RequestCount(kName), 2);
  // Listed anew (another size and checksum): fetched again, the old bytes gone.
  const FileEntry changed = site.AddFile(kName, Pattern(kSize + 1, 6));
  ASSERT_TRUE(NextRun({changed}));
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize + 1, 6));
  EXPECT_EQ(server.RequestCount(kName), 3);
}

TEST_F(ResumeTest, WhatIsKeptCannotOutgrowTheListAndGoesWhenNoLongerOffered) {
  const FileEntry entry = site.AddFile(kName, Pattern(kSize, 9));
  DownloadCancelledAtHalf(entry);
  // Kept bytes beyond the listed size are never continued.
  {
    std::ofstream out(KeptDataPath(kName), std::ios::binary | std::ios::app);
    out << std::string(kSize, 'x');
  }
  ASSERT_TRUE(NextRun({entry})) << log.Text();
  EXPECT_EQ(LastRequest().range, "");
  EXPECT_EQ(ReadFile(W(kName)), Pattern(kSize, 9));
  // A list that no longer names it: its bytes and record go.
  const FileEntry other = site.AddFile("other.bin", "other");
  ASSERT_TRUE(NextRun({other}));
  EXPECT_FALSE(PathExists(KeptDataPath(kName)));
  std::size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(KeptFolder())) entries += !e.path().empty();
  EXPECT_EQ(entries, 2u) << "the other file's bytes and record only";
}

}  // namespace
