// Staged rollouts: a fleet of installations receives an update in the share
// the maker set, growing with a phased release and never taking it back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/list/rollout.h"
#include "app/list/site_record.h"

namespace {

constexpr std::int64_t kDay = 86400;

std::vector<std::string> Fleet(std::size_t n) {
  std::vector<std::string> numbers;
  for (std::size_t i = 0; i < n; ++i) numbers.push_back("installation-" + std::to_string(i * 7919));
  return numbers;
}

// 10,000 installations through a phased release over 10 days, looked at
// every 6 hours: the share that receives it is within 1 % of the rollout's,
// and nobody who received it loses it. A second update places them anew.
TEST(Rollout, FleetReceivesThePhasedShareAndKeepsWhatItReceived) {
  const std::vector<std::string> fleet = Fleet(10000);
  const Rollout phased{Rollout::Kind::Phased, 0, 1'000'000'000, 10};
  std::vector<bool> received(fleet.size(), false);
  std::size_t sameOrder = 0;
  for (std::int64_t t = phased.start - kDay; t <= phased.start + 11 * kDay; t += kDay / 4) {
    const double share = ShareAt(phased, t);
    std::size_t count = 0;
    for (std::size_t i = 0; i < fleet.size(); ++i) {
      const bool now = PlaceOf(fleet[i], "TVQ2027-01-05") < share;
      EXPECT_FALSE(received[i] && !now) << "installation " << i << " lost the update at " << share << " %";
      received[i] = received[i] || now;
      count += now;
    }
    EXPECT_NEAR(100.0 * static_cast<double>(count) / static_cast<double>(fleet.size()), share, 1.0) << t;
  }
  for (std::size_t i = 0; i < fleet.size(); ++i)
    sameOrder += (PlaceOf(fleet[i], "TVQ2027-01-05") < 50) == (PlaceOf(fleet[i], "TVQ2027-02-01") < 50);
  EXPECT_NEAR(static_cast<double>(sameOrder), 5000.0, 300.0) << "the first half of one rollout is not the next one's";
}

TEST(Rollout, RecordedRolloutsReadBackAndBadOnesAreRefused) {
  SiteRecord record;
  record.list = DigestOfBytes("list");
  record.rollouts["A"] = {Rollout::Kind::Share, 12.5};
  record.rollouts["B"] = {Rollout::Kind::Phased, 0, 1'800'000'000, 0.5};
  record.rollouts["C"] = {Rollout::Kind::Halted};
  std::string why;
  const auto read = ParseSiteRecord(SiteRecordText(record), &why);
  ASSERT_TRUE(read) << why;
  EXPECT_EQ(read->rollouts, record.rollouts);
  EXPECT_EQ(RolloutSummary(record.rollouts["B"], 1'800'000'000 + kDay / 8),
            "phased over 0.5 days from 2027-01-15T08:00:00Z, now 25 %");
  EXPECT_EQ(ShareAt(record.rollouts["B"], 1'700'000'000), 0);   // a clock far behind
  EXPECT_EQ(ShareAt(record.rollouts["B"], 1'900'000'000), 100); // a clock far ahead
  SiteRecord listOnly;
  listOnly.list = record.list;
  const std::string head = SiteRecordText(listOnly);
  for (const std::string bad : {"rollout\tA\tshare\t100.5", "rollout\tA\tshare\t-1", "rollout\tA\tshare\t1e2",
                                "rollout\tA\tphased\t10\t0", "rollout\tA\tphased\t1.5\t2", "rollout\tA\thalted\tx",
                                "rollout\t\thalted", "rollout\tA\tshare\t5.\n"})
    EXPECT_FALSE(ParseSiteRecord(head + bad + "\n", &why)) << bad;
  EXPECT_EQ(ParseDecimal("0.25", 0, 100), 0.25);
  EXPECT_EQ(DecimalText(12.50), "12.5");
}

}  // namespace
