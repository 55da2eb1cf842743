// The pure parts of judging an answer and continuing a download: the error
// status and the 206/Content-Range judgement both backends share, the
// validator choice, and the kept-download record.
#include <gtest/gtest.h>

#include <string>

#include "app/fetch/kept_downloads.h"
#include "platform/http_answer.h"

namespace {

TEST(HttpAnswer, ContentRangeMustContinueExactlyAtTheAskedOffsetToTheListedEnd) {
  struct Case {
    const char* header;
    std::int64_t from, total;
    bool continues;
    std::int64_t length;  // of the body it names
  } cases[] = {
      {"bytes 100-199/200", 100, 200, true, 100},
      {"BYTES 100-199/200", 100, 200, true, 100},
      {"  bytes 100-199/200\r\n", 100, 200, true, 100},
      {"bytes 100-199/200", 100, -1, true, 100},   // no listed size: any whole total
      {"bytes 99-199/200", 100, 200, false, 101},  // starts before the asked offset
      {"bytes 101-199/200", 100, 200, false, 99}, // starts after it
      {"bytes 0-199/200", 100, 200, false, 200},   // the whole file labelled as a range
      {"bytes 100-299/300", 100, 200, false, 200}, // another total: another file
      {"bytes 100-150/200", 100, 200, false, 51}, // stops short of the end
      {"bytes 100-199/*", 100, 200, false, -1},   // unknown total
      {"bytes */200", 100, 200, false, -1},
      {"bytes 100-99/200", 100, 200, false, -1},
      {"items 100-199/200", 100, 200, false, -1},
      {"bytes 100-199/200x", 100, 200, false, -1},
      {"bytes -100-199/200", 100, 200, false, -1},
      {"", 100, 200, false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(os::ContentRangeContinues(c.header, c.from, c.total), c.continues) << c.header;
    EXPECT_EQ(os::ContentRangeLength(c.header), c.length) << c.header;
  }
}

TEST(HttpAnswer, OnlyA206ToARangeRequestContinuesAndAWrongOneIsRefused) {
  os::HttpRequest asked;
  asked.resumeFrom = 100;
  asked.resumeTotal = 200;
  os::HttpRequest whole;
  struct Case {
    const os::HttpRequest* request;
    long status;
    const char* range;
    os::RangeVerdict verdict;
  } cases[] = {
      {&asked, 206, "bytes 100-199/200", os::RangeVerdict::Continues},
      {&asked, 200, "", os::RangeVerdict::Whole},   // range ignored or validator changed
      {&asked, 200, "bytes 100-199/200", os::RangeVerdict::Whole},
      {&asked, 416, "bytes */200", os::RangeVerdict::Whole},  // checked whole at the end
      {&asked, 206, "bytes 0-199/200", os::RangeVerdict::Mismatch},
      {&asked, 206, "bytes 100-399/400", os::RangeVerdict::Mismatch},
      {&asked, 206, "", os::RangeVerdict::Mismatch},
      {&whole, 206, "bytes 0-199/200", os::RangeVerdict::Whole},
  };
  for (const Case& c : cases)
    EXPECT_EQ(os::JudgeRangeAnswer(*c.request, c.status, c.range), c.verdict)
        << c.status << " " << c.range << " from " << c.request->resumeFrom;
}

TEST(HttpAnswer, ErrorStatusIsNamedWithItsPhraseAndWhereItCameFrom) {
  using os::AnswerRoute;
  struct Case {
    long status;
    AnswerRoute route;
    const char* text;
  } cases[] = {
      {399, AnswerRoute::Proxy, ""},
      {404, AnswerRoute::Site, "the site answered 404 Not Found"},
      {503, AnswerRoute::ThroughProxy, "the site answered 503 Service Unavailable (through the proxy)"},
      {502, AnswerRoute::Proxy, "the proxy answered 502 Bad Gateway"},
      {407, AnswerRoute::ThroughProxy, "the proxy answered 407 Proxy Authentication Required"},
      {410, AnswerRoute::Unknown, "the server answered 410 Gone"},
      {499, AnswerRoute::Site, "the site answered 499"},
  };
  for (const Case& c : cases) EXPECT_EQ(os::ErrorStatusText(c.status, c.route), c.text) << c.status;
}

TEST(HttpAnswer, RangeHeadersAskForTheRestUnderTheValidator) {
  os::HttpRequest request;
  EXPECT_EQ(os::RangeHeaders(request), "");
  request.resumeFrom = 4096;
  EXPECT_EQ(os::RangeHeaders(request), "Range: bytes=4096-\r\n");
  request.ifRange = "\"abc\"";
  EXPECT_EQ(os::RangeHeaders(request), "Range: bytes=4096-\r\nIf-Range: \"abc\"\r\n");
}

TEST(HttpAnswer, AStrongETagIsPreferredAndAWeakOneNeverUsed) {
  struct Case {
    const char* etag;
    const char* lastModified;
    const char* want;
  } cases[] = {
      {" \"abc\"\r\n", " Tue, 03 Mar 2026 10:00:00 GMT\r\n", "\"abc\""},
      {"W/\"abc\"", "Tue, 03 Mar 2026 10:00:00 GMT", "Tue, 03 Mar 2026 10:00:00 GMT"},
      {"", "Tue, 03 Mar 2026 10:00:00 GMT", "Tue, 03 Mar 2026 10:00:00 GMT"},
      {"w/\"abc\"", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(os::ChooseValidator(c.etag, c.lastModified), c.want) << c.etag;
}

KeptRecord Sample() {
  return {{"http://127.0.0.1:8080/upd/", "tvq.ex~", 123456, -17}, "\"5-abc\"", true};
}

TEST(KeptDownloads, RecordReadsBackAsWritten) {
  for (bool verified : {false, true}) {
    for (const char* validator : {"\"5-abc\"", "", "Tue, 03 Mar 2026 10:00:00 GMT"}) {
      KeptRecord record = Sample();
      record.verified = verified;
      record.validator = validator;
      const auto back = ParseKeptRecord(FormatKeptRecord(record));
      ASSERT_TRUE(back) << validator;
      EXPECT_EQ(back->identity, record.identity);
      EXPECT_EQ(back->validator, record.validator);
      EXPECT_EQ(back->verified, verified);
    }
  }
}

TEST(KeptDownloads, ATornOrForeignRecordIsNoRecord) {
  const std::string text = FormatKeptRecord(Sample());
  // Every cut short of the whole text is torn: a kill while writing it, or
  // a power cut that lost its end, never yields a record.
  for (std::size_t n = 0; n < text.size(); ++n)
    EXPECT_FALSE(ParseKeptRecord(text.substr(0, n))) << n;
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  for (const std::string& bad :
       {replaced("size=123456", "size=12x"), replaced("verified=1", "verified=yes"),
        replaced("checksum=-17", "checksum="), replaced("name=tvq.ex~", "name="),
        replaced("tvqlupd kept download 1", "something else"), text + "more\n"})
    EXPECT_FALSE(ParseKeptRecord(bad)) << bad;
}

TEST(KeptDownloads, AFieldWithALineBreakIsNotRecorded) {
  KeptRecord record = Sample();
  record.validator = "\"a\"\nverified=1";
  EXPECT_EQ(FormatKeptRecord(record), "");
  record = Sample();
  record.identity.site = "http://x/\r";
  EXPECT_EQ(FormatKeptRecord(record), "");
}

}  // namespace
