#pragma once
// What a list's signature binds besides its name: the channel the list is
// published for and the time after which it is no longer valid. Both are
// fields of the trusted comment, which the global signature covers:
// "timestamp:T<TAB>file:!update-info.txt<TAB>hashed<TAB>channel:stable<TAB>
// expires:2026-05-01T00:00:00Z". A site copied from another product or
// channel, or saved and replayed after it expired, is so refused.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct ListBinding {
  std::string channel;                  // empty: none
  std::optional<std::int64_t> expires;  // Unix seconds (UTC)
};

// minisign's trusted comment for fileName followed by the binding's fields.
std::string ListTrustedComment(std::string_view fileName, std::int64_t unixSeconds, const ListBinding& binding);

// Whether a channel name can stand in a trusted comment and a setting: not
// empty, at most 64 characters, only letters, digits, '.', '_' and '-'.
bool IsPlainChannelName(std::string_view channel);

// "2026-05-01T00:00:00Z" for Unix seconds, and back: nullopt when the text
// is not a valid time in exactly that form.
std::string UtcTimeText(std::int64_t unixSeconds);
std::optional<std::int64_t> ParseUtcTime(std::string_view text);

// Why a list whose signature verified with this trusted comment may not be
// used (empty when it may): with a channel configured the comment must name
// that channel; an "expires:" field must be readable and lie after now.
std::string ListBindingProblem(std::string_view trustedComment, std::string_view channel, std::int64_t now);

// The expiry a trusted comment gives: nullopt when it gives none;
// a present but unreadable one is reported through unreadable.
std::optional<std::int64_t> ListExpiry(std::string_view trustedComment, bool* unreadable = nullptr);
