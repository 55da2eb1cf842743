#include "platform/http_answer.h"

#include <charconv>
#include <optional>

namespace os {
namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

// Reads a decimal number up to stop; false when there is none or more follows.
bool ReadNumber(std::string_view& text, char stop, std::int64_t& value) {
  const std::size_t end = stop ? text.find(stop) : text.size();
  if (end == std::string_view::npos || end == 0) return false;
  const char* first = text.data();
  const auto [ptr, ec] = std::from_chars(first, first + end, value);
  if (ec != std::errc() || ptr != first + end || value < 0) return false;
  text.remove_prefix(stop ? end + 1 : end);
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

namespace {

// "bytes 100-199/200" -> {100, 199, 200}.
struct ContentRange {
  std::int64_t first = 0, last = 0, complete = 0;
};

std::optional<ContentRange> ParseContentRange(std::string_view contentRange) {
  std::string_view text = Trimmed(contentRange);
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos || !EqualsIgnoringCase(text.substr(0, blank), "bytes"))
    return std::nullopt;
  text = Trimmed(text.substr(blank + 1));
  ContentRange range;
  if (!ReadNumber(text, '-', range.first) || !ReadNumber(text, '/', range.last) ||
      !ReadNumber(text, '\0', range.complete) || range.last < range.first)
    return std::nullopt;
  return range;
}

}  // namespace

std::string_view ReasonPhrase(long status) {
  struct Phrase {
    long status;
    std::string_view text;
  };
  static constexpr Phrase kPhrases[] = {
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "Not Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Precondition Failed"},
      {413, "Content Too Large"},
      {414, "URI Too Long"},
      {415, "Unsupported Media Type"},
      {416, "Range Not Satisfiable"},
      {417, "Expectation Failed"},
      {421, "Misdirected Request"},
      {426, "Upgrade Required"},
      {429, "Too Many Requests"},
      {431, "Request Header Fields Too Large"},
      {451, "Unavailable For Legal Reasons"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
      {505, "HTTP Version Not Supported"},
      {511, "Network Authentication Required"},
  };
  for (const Phrase& phrase : kPhrases)
    if (phrase.status == status) return phrase.text;
  return {};
}

std::string ErrorStatusText(long status, AnswerRoute route) {
  if (status < 400) return {};
  // Only a proxy asks for its own credentials.
  if (status == 407 && route == AnswerRoute::ThroughProxy) route = AnswerRoute::Proxy;
  std::string named = std::to_string(status);
  if (const std::string_view phrase = ReasonPhrase(status); !phrase.empty())
    named.append(" ").append(phrase);
  switch (route) {
    case AnswerRoute::Site: return "the site answered " + named;
    case AnswerRoute::ThroughProxy: return "the site answered " + named + " (through the proxy)";
    case AnswerRoute::Proxy: return "the proxy answered " + named;
    case AnswerRoute::Unknown: break;
  }
  return "the server answered " + named;
}

bool HeaderValue(std::string_view line, std::string_view name, std::string& value) {
  if (line.size() <= name.size() || line[name.size()] != ':' ||
      !EqualsIgnoringCase(line.substr(0, name.size()), name))
    return false;
  value.assign(line.substr(name.size() + 1));
  return true;
}

bool ContentRangeContinues(std::string_view contentRange, std::int64_t from, std::int64_t total) {
  const std::optional<ContentRange> range = ParseContentRange(contentRange);
  // Asked from `from` to the end: exactly that, of a file of the listed size.
  return range && range->first == from && range->last + 1 == range->complete &&
         (total < 0 || range->complete == total);
}

std::int64_t ContentRangeLength(std::string_view contentRange) {
  const std::optional<ContentRange> range = ParseContentRange(contentRange);
  return range ? range->last - range->first + 1 : -1;
}

RangeVerdict JudgeRangeAnswer(const HttpRequest& request, long status,
                              std::string_view contentRange) {
  if (request.resumeFrom <= 0 || status != 206) return RangeVerdict::Whole;
  return ContentRangeContinues(contentRange, request.resumeFrom, request.resumeTotal)
             ? RangeVerdict::Continues
             : RangeVerdict::Mismatch;
}

std::string RangeHeaders(const HttpRequest& request) {
  if (request.resumeFrom <= 0) return {};
  std::string headers = "Range: bytes=" + std::to_string(request.resumeFrom) + "-\r\n";
  if (!request.ifRange.empty()) headers += "If-Range: " + request.ifRange + "\r\n";
  return headers;
}

std::string ChooseValidator(std::string_view etag, std::string_view lastModified) {
  etag = Trimmed(etag);
  if (!etag.empty() && etag.substr(0, 2) != "W/" && etag.substr(0, 2) != "w/")
    return std::string(etag);
  return std::string(Trimmed(lastModified));
}

}  // namespace os
