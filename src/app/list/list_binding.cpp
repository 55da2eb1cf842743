#include "app/list/list_binding.h"

#include <chrono>
#include <cstdio>

#include "app/fetch/minisign.h"

namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr std::int64_t kSecondsPerDay = 86400;

// Reads exactly digits decimal digits at text[at...]; -1 when they are not.
int Digits(std::string_view text, std::size_t at, std::size_t digits) {
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::string ListTrustedComment(std::string_view fileName, std::int64_t unixSeconds, const ListBinding& binding) {
  std::string comment = DefaultTrustedComment(fileName, unixSeconds);
  if (!binding.channel.empty()) comment += "\tchannel:" + binding.channel;
  if (binding.expires) comment += "\texpires:" + UtcTimeText(*binding.expires);
  return comment;
}

bool IsPlainChannelName(std::string_view channel) {
  if (channel.empty() || channel.size() > 64) return false;
  for (char c : channel) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    if (!plain) return false;
  }
  return true;
}

std::string UtcTimeText(std::int64_t unixSeconds) {
  std::int64_t days = unixSeconds / kSecondsPerDay;
  std::int64_t rest = unixSeconds % kSecondsPerDay;
  if (rest < 0) rest += kSecondsPerDay, --days;
  const year_month_day date{sys_days{std::chrono::days{days}}};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  const int y = Digits(text, 0, 4), mo = Digits(text, 5, 2), d = Digits(text, 8, 2);
  const int h = Digits(text, 11, 2), mi = Digits(text, 14, 2), s = Digits(text, 17, 2);
  if (y < 0 || mo < 0 || d < 0 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return std::nullopt;
  const year_month_day date{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  const std::int64_t days = sys_days{date}.time_since_epoch().count();
  return days * kSecondsPerDay + h * 3600 + mi * 60 + s;
}

std::optional<std::int64_t> ListExpiry(std::string_view trustedComment, bool* unreadable) {
  if (unreadable) *unreadable = false;
  const auto field = TrustedCommentField(trustedComment, "expires");
  if (!field) return std::nullopt;
  const auto expires = ParseUtcTime(*field);
  if (!expires && unreadable) *unreadable = true;
  return expires;
}

std::string ListBindingProblem(std::string_view trustedComment, std::string_view channel, std::int64_t now) {
  if (!channel.empty()) {
    const auto signedChannel = TrustedCommentField(trustedComment, "channel");
    if (!signedChannel || signedChannel->empty())
      return "the list is signed for no channel, this installation follows " + std::string(channel);
    if (*signedChannel != channel)
      return "the list is signed for channel " + *signedChannel + ", this installation follows " +
             std::string(channel);
  }
  bool unreadable = false;
  const auto expires = ListExpiry(trustedComment, &unreadable);
  if (unreadable) return "the update list's signature gives an expiry that cannot be read";
  if (expires && *expires <= now)
    return "the update list's signature expired on " + UtcTimeText(*expires) + "; the site is stale or replayed";
  return {};
}
