// The channel and expiry a list's signature binds, and the refusals with
// the text the status and the account show.
#include "app/list/list_binding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::int64_t kMay1st2026 = 1777593600;  // 2026-05-01T00:00:00Z

TEST(ListBinding, UtcTimesRoundTripAndOnlyTheExactFormIsRead) {
  EXPECT_EQ(UtcTimeText(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(UtcTimeText(kMay1st2026), "2026-05-01T00:00:00Z");
  EXPECT_EQ(UtcTimeText(951782399), "2000-02-28T23:59:59Z");
  EXPECT_EQ(UtcTimeText(951868800), "2000-03-01T00:00:00Z");  // after a leap day
  EXPECT_EQ(UtcTimeText(-1), "1969-12-31T23:59:59Z");
  for (std::int64_t t : {std::int64_t{0}, kMay1st2026, kMay1st2026 + 86399, std::int64_t{4102444800}})
    EXPECT_EQ(ParseUtcTime(UtcTimeText(t)), t) << t;
  for (const char* bad : {"2026-05-01", "2026-05-01T00:00:00", "2026-02-30T00:00:00Z", "2026-13-01T00:00:00Z",
                          "2026-05-01T24:00:00Z", "2026-05-01 00:00:00Z", "2026-5-01T00:00:00Z", "+026-05-01T00:00:00Z"})
    EXPECT_FALSE(ParseUtcTime(bad)) << bad;
}

TEST(ListBinding, TrustedCommentCarriesChannelAndExpiry) {
  EXPECT_EQ(ListTrustedComment("!update-info.txt", 5, {}), "timestamp:5\tfile:!update-info.txt\thashed");
  EXPECT_EQ(ListTrustedComment("!update-info.txt", 5, {"stable", kMay1st2026}),
            "timestamp:5\tfile:!update-info.txt\thashed\tchannel:stable\texpires:2026-05-01T00:00:00Z");
  for (const char* plain : {"stable", "beta-2", "Product_X.1"}) EXPECT_TRUE(IsPlainChannelName(plain)) << plain;
  for (const char* bad : {"", "two words", "tab\there", "a:b", "semi;colon"}) EXPECT_FALSE(IsPlainChannelName(bad)) << bad;
}

TEST(ListBinding, ChannelAndExpiryDecideWhetherTheListMayBeUsed) {
  const std::string head = "timestamp:1\tfile:!update-info.txt\thashed";
  struct Case {
    std::string comment;
    std::string channel;  // of the installation
    std::int64_t now;
    std::string want;  // empty: usable
  } cases[] = {
      {head, "", kMay1st2026, ""},
      {head + "\tchannel:beta", "", kMay1st2026, ""},
      {head + "\tchannel:stable", "stable", kMay1st2026, ""},
      {head + "\tchannel:beta", "stable", kMay1st2026,
       "the list is signed for channel beta, this installation follows stable"},
      {head, "stable", kMay1st2026, "the list is signed for no channel, this installation follows stable"},
      {head + "\tchannel:stablex", "stable", kMay1st2026, "the list is signed for channel stablex, this installation follows stable"},
      {head + "\tchannel:", "stable", kMay1st2026, "the list is signed for no channel, this installation follows stable"},
      {head + "\texpires:2026-05-01T00:00:01Z", "", kMay1st2026, ""},
      {head + "\texpires:2026-05-01T00:00:00Z", "", kMay1st2026,
       "the update list's signature expired on 2026-05-01T00:00:00Z; the site is stale or replayed"},
      {head + "\texpires:2020-01-01T00:00:00Z", "", kMay1st2026,
       "the update list's signature expired on 2020-01-01T00:00:00Z; the site is stale or replayed"},
      {head + "\texpires:soon", "", kMay1st2026, "the update list's signature gives an expiry that cannot be read"},
      {head + "\tchannel:stable\texpires:2020-01-01T00:00:00Z", "stable", kMay1st2026,
       "the update list's signature expired on 2020-01-01T00:00:00Z; the site is stale or replayed"},
  };
  for (const auto& c : cases) EXPECT_EQ(ListBindingProblem(c.comment, c.channel, c.now), c.want) << c.comment;
}

}  // namespace
