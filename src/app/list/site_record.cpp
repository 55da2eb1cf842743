#include "app/list/site_record.h"

#include <memory>
#include <new>
#include <vector>

#include "platform/os.h"
#include "platform/signature.h"
#include "support/strfn.h"

namespace {

constexpr std::string_view kFirstLine = "tvq-record 1";
constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kReadBlock = 1 << 20;

std::vector<std::string_view> TabFields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t from = 0;;) {
    const std::size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
    if (tab == std::string_view::npos) return fields;
    from = tab + 1;
  }
}

std::optional<ContentDigest> ParseDigest(std::string_view size, std::string_view digest) {
  std::int64_t n = 0;
  if (size.empty() || size.size() > 18) return std::nullopt;
  for (char c : size) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (!IsLowerHex(digest, 2 * kDigestBytes)) return std::nullopt;
  return ContentDigest{n, std::string(digest)};
}

std::string Line(std::string_view kind, std::string_view name, const ContentDigest& d) {
  std::string line(kind);
  if (!name.empty()) line += "\t" + std::string(name);
  return line + "\t" + std::to_string(d.size) + "\t" + d.digest + "\n";
}

// Takes one line of a record into it; false when it is a known kind of
// fact that does not read.
bool TakeLine(std::string_view line, SiteRecord& record, bool& sawList) {
  const std::vector<std::string_view> f = TabFields(line);
  if (f[0] == "list") {
    const auto d = f.size() == 3 ? ParseDigest(f[1], f[2]) : std::nullopt;
    if (!d || sawList) return false;
    record.list = *d;
    sawList = true;
  } else if (f[0] == "file" || f[0] == "expanded") {
    const auto d = f.size() == 4 && !f[1].empty() ? ParseDigest(f[2], f[3]) : std::nullopt;
    auto& named = f[0] == "file" ? record.files : record.expanded;
    if (!d || !named.emplace(std::string(f[1]), *d).second) return false;
  } else if (f[0] == "patch") {
    const auto patch = f.size() == 9 ? ParseDigest(f[3], f[4]) : std::nullopt;
    const auto base = patch ? ParseDigest(f[5], f[6]) : std::nullopt;
    const auto result = base ? ParseDigest(f[7], f[8]) : std::nullopt;
    if (!result || f[1].empty() || f[2].empty()) return false;
    record.patches.push_back({std::string(f[1]), std::string(f[2]), *patch, *base, *result});
  } else if (f[0] == "rollout") {
    const auto r = f.size() > 2 && !f[1].empty() ? ParseRolloutFields({f.begin() + 2, f.end()}) : std::nullopt;
    if (!r || !record.rollouts.emplace(std::string(f[1]), *r).second) return false;
  }
  return true;
}

}  // namespace

const ContentDigest* SiteRecord::FileNamed(const std::string& listedName) const {
  const auto it = files.find(listedName);
  return it == files.end() ? nullptr : &it->second;
}

const ContentDigest* SiteRecord::ExpandedNamed(const std::string& listedName) const {
  const auto it = expanded.find(listedName);
  return it == expanded.end() ? nullptr : &it->second;
}

bool SiteRecord::MakesCurrent(const RecordedPatch& p) const {
  const ContentDigest* listed = FileNamed(p.target);
  const ContentDigest* unpacked = ExpandedNamed(p.target);
  return (listed && *listed == p.result) || (unpacked && *unpacked == p.result);
}

std::vector<const RecordedPatch*> SiteRecord::PatchesOf(const std::string& target) const {
  std::vector<const RecordedPatch*> found;
  for (const RecordedPatch& p : patches)
    if (p.target == target) found.push_back(&p);
  return found;
}

std::string SiteRecordText(const SiteRecord& record) {
  std::string text = std::string(kFirstLine) + "\n" + Line("list", {}, record.list);
  for (const auto& [name, digest] : record.files) text += Line("file", name, digest);
  for (const auto& [name, digest] : record.expanded) text += Line("expanded", name, digest);
  for (const RecordedPatch& p : record.patches) {
    text += "patch\t" + p.target + "\t" + p.patchName;
    for (const ContentDigest* d : {&p.patch, &p.base, &p.result})
      text += "\t" + std::to_string(d->size) + "\t" + d->digest;
    text += "\n";
  }
  for (const auto& [id, rollout] : record.rollouts) {
    text += "rollout\t" + id;
    for (const std::string& field : RolloutFields(rollout)) text += "\t" + field;
    text += "\n";
  }
  return text;
}

std::optional<SiteRecord> ParseSiteRecord(std::string_view text, std::string* why) {
  const auto fail = [&](std::string cause) -> std::optional<SiteRecord> {
    if (why) *why = std::move(cause);
    return std::nullopt;
  };
  if (text.substr(0, kFirstLine.size() + 1) != std::string(kFirstLine) + "\n")
    return fail("it does not begin with \"" + std::string(kFirstLine) + "\"");
  if (text.back() != '\n') return fail("it is torn (its last line is not whole)");
  SiteRecord record;
  bool sawList = false;
  std::size_t number = 1;
  for (std::size_t from = kFirstLine.size() + 1; from < text.size(); ++number) {
    const std::size_t end = text.find('\n', from);
    if (!TakeLine(text.substr(from, end - from), record, sawList))
      return fail("line " + std::to_string(number + 1) + " does not read");
    from = end + 1;
  }
  if (!sawList) return fail("it names no list");
  return record;
}

ContentDigest DigestOfBytes(std::string_view bytes) {
  crypto::Blake2b hash(kDigestBytes);
  hash.Update(bytes.data(), bytes.size());
  return {static_cast<std::int64_t>(bytes.size()), HexOfBytes(hash.Final())};
}

Status DigestOfFile(const std::string& path, ContentDigest& digest) {
  StatusOr<os::File> file = os::File::Open(path, os::OpenFor::Read);
  if (!file) return Status::Failed("cannot open " + path, file.status());
  std::unique_ptr<char[]> block(new (std::nothrow) char[kReadBlock]);
  if (!block) return Status::Error("out of memory");
  crypto::Blake2b hash(kDigestBytes);
  std::int64_t size = 0;
  for (;;) {
    const StatusOr<std::int64_t> n = file->Read(block.get(), kReadBlock);
    if (!n) return Status::Failed("cannot read " + path, n.status());
    if (*n == 0) break;
    hash.Update(block.get(), static_cast<std::size_t>(*n));
    size += *n;
  }
  digest = {size, HexOfBytes(hash.Final())};
  return Status();
}

std::string DigestMismatch(const ContentDigest& actual, const ContentDigest& recorded) {
  if (actual.size != recorded.size)
    return "its size is " + std::to_string(actual.size) + " bytes, recorded " + std::to_string(recorded.size);
  if (actual.digest != recorded.digest) return "its digest differs from the recorded one";
  return {};
}
