#pragma once
// Staged rollouts: a maker releases an update to a share of installations
// first. The site's record holds each held update's rollout: a fixed share,
// a phased release that grows evenly from its start to 100 % over some
// days, or a halt. Each installation has a place from 0 to 100 in every
// rollout, drawn from its own random number (kept in its settings, never
// sent anywhere) and the update's ID, so that the same installations are
// not always first; it receives the update once the rollout's share has
// passed its place. A place stays where it is as the share grows: an
// installation that received an update at 10 % also receives it at 20 %.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Rollout {
  enum class Kind { Share, Phased, Halted };
  Kind kind = Kind::Share;
  double percent = 100;    // Share: the share of installations, 0 to 100
  std::int64_t start = 0;  // Phased: Unix seconds (UTC) when it began at 0 %
  double days = 0;         // Phased: how long it takes to reach 100 %
  // Equal when they release alike (the fields of other kinds not compared).
  bool operator==(const Rollout& other) const;
};

// The record's fields after the update's ID ("share 12.5", "phased START
// DAYS", "halted"), and back: nullopt when they do not read (a share or
// days outside their range included).
std::vector<std::string> RolloutFields(const Rollout& rollout);
std::optional<Rollout> ParseRolloutFields(const std::vector<std::string_view>& fields);

// A percentage or a number of days as written by a maker: digits with an
// optional '.' and decimals, in [min, max]; nullopt otherwise.
std::optional<double> ParseDecimal(std::string_view text, double min, double max);
// "12.5", "5", "0.25": at most four decimals, trailing zeros cut.
std::string DecimalText(double value);

// The share of installations that receive the update at now (0 to 100).
double ShareAt(const Rollout& rollout, std::int64_t now);
// The installation's place in the rollout of updateId: in [0, 100).
double PlaceOf(std::string_view installationNumber, std::string_view updateId);
// How the rollout stands at now, for the maker and the account:
// "12.5 %", "phased over 7 days from 2027-01-05T10:00:00Z, now 31.2 %", "halted".
std::string RolloutSummary(const Rollout& rollout, std::int64_t now);
