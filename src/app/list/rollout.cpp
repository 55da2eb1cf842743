#include "app/list/rollout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/list/list_binding.h"
#include "platform/signature.h"

namespace {

constexpr double kSecondsPerDay = 86400;
constexpr double kMaxDays = 3650;

}  // namespace

bool Rollout::operator==(const Rollout& other) const {
  if (kind != other.kind) return false;
  if (kind == Kind::Share) return percent == other.percent;
  return kind == Kind::Halted || (start == other.start && days == other.days);
}

std::optional<double> ParseDecimal(std::string_view text, double min, double max) {
  double value = 0;
  double scale = 0;  // 0 before the point, then 0.1, 0.01, ...
  bool digits = false;
  for (char c : text) {
    if (c == '.' && scale == 0 && digits) {
      scale = 1;
    } else if (c >= '0' && c <= '9' && (scale == 0 || scale > 1e-9)) {
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += scale * (c - '0');
      }
      digits = true;
      if (value > 1e12) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (!digits || (scale == 1) || value < min || value > max) return std::nullopt;
  return value;
}

std::string DecimalText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::vector<std::string> RolloutFields(const Rollout& rollout) {
  switch (rollout.kind) {
    case Rollout::Kind::Share:
      return {"share", DecimalText(rollout.percent)};
    case Rollout::Kind::Phased:
      return {"phased", std::to_string(rollout.start), DecimalText(rollout.days)};
    default:
      return {"halted"};
  }
}

std::optional<Rollout> ParseRolloutFields(const std::vector<std::string_view>& fields) {
  if (fields.empty()) return std::nullopt;
  Rollout rollout;
  if (fields[0] == "share" && fields.size() == 2) {
    const auto percent = ParseDecimal(fields[1], 0, 100);
    if (!percent) return std::nullopt;
    rollout.percent = *percent;
  } else if (fields[0] == "phased" && fields.size() == 3) {
    const auto start = ParseDecimal(fields[1], 0, 1e11);
    const auto days = ParseDecimal(fields[2], 0, kMaxDays);
    if (!start || std::floor(*start) != *start || !days || *days <= 0) return std::nullopt;
    rollout.kind = Rollout::Kind::Phased;
    rollout.start = static_cast<std::int64_t>(*start);
    rollout.days = *days;
  } else if (fields[0] == "halted" && fields.size() == 1) {
    rollout.kind = Rollout::Kind::Halted;
  } else {
    return std::nullopt;
  }
  return rollout;
}

double ShareAt(const Rollout& rollout, std::int64_t now) {
  switch (rollout.kind) {
    case Rollout::Kind::Share:
      return rollout.percent;
    case Rollout::Kind::Phased: {
      const double elapsed = static_cast<double>(now - rollout.start);
      return std::clamp(100 * elapsed / (rollout.days * kSecondsPerDay), 0.0, 100.0);
    }
    default:
      return 0;
  }
}

double PlaceOf(std::string_view installationNumber, std::string_view updateId) {
  crypto::Blake2b hash(32);
  const std::string text = std::string(installationNumber) + "\t" + std::string(updateId);
  hash.Update(text.data(), text.size());
  const std::string digest = hash.Final();
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8 && i < digest.size(); ++i)
    value = (value << 8) | static_cast<unsigned char>(digest[i]);
  // The top 53 bits: exactly representable, so the place stays below 100.
  return static_cast<double>(value >> 11) / 9007199254740992.0 * 100;
}

std::string RolloutSummary(const Rollout& rollout, std::int64_t now) {
  switch (rollout.kind) {
    case Rollout::Kind::Share:
      return DecimalText(rollout.percent) + " %";
    case Rollout::Kind::Phased:
      return "phased over " + DecimalText(rollout.days) + " days from " + UtcTimeText(rollout.start) + ", now " +
             DecimalText(std::round(ShareAt(rollout, now) * 10) / 10) + " %";
    default:
      return "halted";
  }
}
