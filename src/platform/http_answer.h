#pragma once
// How both transfer backends judge a server's answer: an error status that
// fails the method, named; for a request that continues a file, the 206 and
// Content-Range check, and which validator a file is continued under later.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os.h"

namespace os {

enum class RangeVerdict {
  Whole,      // the body is the whole file from its first byte
  Continues,  // the body is the rest of the file from resumeFrom on
  Mismatch,   // a 206 for another part or another file: nothing of it is used
};

// Where an answer with an error status came from, as far as a backend can
// tell.
enum class AnswerRoute {
  Site,          // straight from the site
  ThroughProxy,  // through a proxy: the site's answer, or one the proxy made
  Proxy,         // from the proxy itself (it would not open a tunnel)
  Unknown,       // whether a proxy took part is not known
};

// The reason phrase of a common status ("Not Found"); empty for others.
std::string_view ReasonPhrase(long status);

// Why an answer with this status fails its method, for the account: "the
// site answered 503 Service Unavailable", "the proxy answered 502 Bad
// Gateway", "the site answered 404 Not Found (through the proxy)". Empty for
// a status below 400, which does not fail it.
std::string ErrorStatusText(long status, AnswerRoute route);

// The value of a header line when it is the named header, the name's case
// ignored ("ETag: x" -> " x"); false for another header.
bool HeaderValue(std::string_view line, std::string_view name, std::string& value);

// Whether contentRange ("bytes 100-199/200") covers exactly from to the end
// of a file of total bytes (total < 0: of any known size).
bool ContentRangeContinues(std::string_view contentRange, std::int64_t from, std::int64_t total);

// The body length a Content-Range names; -1 for none or one not understood.
std::int64_t ContentRangeLength(std::string_view contentRange);

// What an answer with this status and Content-Range is, for request.
RangeVerdict JudgeRangeAnswer(const HttpRequest& request, long status,
                              std::string_view contentRange);

// The text of the If-Range header a request sends; empty when it asks for
// the whole file.
std::string RangeHeaders(const HttpRequest& request);

// A strong ETag when there is one (a weak one cannot continue a file), else
// the Last-Modified date; both as the server wrote them, trimmed.
std::string ChooseValidator(std::string_view etag, std::string_view lastModified);

}  // namespace os
