// Fuzzes the reading and selection of update lists. The input's first line
// is the recorded LiveUpdate.lastUpdateInfo; the rest is the list file. It
// goes through both readings (the internet reading's validation and the
// directory reading's line joining), the selection with its obsolete-update
// loop, the byte totals, and the parsing of the selected block's entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/fetch/transfer.h"
#include "app/list/file_entries.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "publish/site_list.h"
#include "support/fileutil.h"
#include "support/nuldev.h"

namespace {

// Sleeps cost nothing: the obsolete-update loop waits 400 ms per block.
class NoWaitClock : public os::Clock {
 public:
  std::int64_t NowMs() override { return now_; }
  void SleepMs(std::int64_t ms) override { now_ += ms; }

 private:
  std::int64_t now_ = 0;
};

std::string ScratchFile() {
  const auto tmp = os::GetEnvVar("TMPDIR");
  return (tmp && !tmp->empty() ? *tmp : std::string("/tmp")) + "/tvq-fuzz-list-" +
         std::to_string(reinterpret_cast<std::uintptr_t>(&ScratchFile) % 100000) + ".txt";
}

bool Init() {
  static NoWaitClock clock;
  os::SetClock(&clock);
  AssignNullText(StdText());
  return true;
}

void Select(std::string list, const std::string& recorded) {
  ValidateUpdateList(list);
  const std::string block = SelectUpdate(list, [&](std::string_view keySpec) {
    return keySpec.substr(0, keySpec.find('=')) == "LiveUpdate.lastUpdateInfo" ? recorded : std::string();
  });
  const std::string files = FilesSectionOf(block);
  CountCurrentSetBytes(files);
  FileEntry entry;
  for (std::string_view piece : ListPieces(files)) {
    if (!ParseFileEntry(piece, entry)) continue;
    if (IsPlainFileName(entry.name)) UrlPathOfName(entry.name);
    RestoredName(entry.name);
  }
  UpdateIdOf(block);
  ListBlocks(list);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = Init();
  (void)ready;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  const std::string recorded = eol == std::string::npos ? std::string() : input.substr(0, eol);
  const std::string listText = eol == std::string::npos ? input : input.substr(eol + 1);

  // As read over the internet: the text itself.
  Select(listText, recorded);

  // As read from a directory site: lines joined by the joining rule.
  static const std::string path = ScratchFile();
  if (auto file = os::File::Open(path, os::OpenFor::CreateTruncate)) {
    file->Write(listText.data(), listText.size());
    file->Close();
    std::string joined;
    if (ReadLocalList(path, joined).ok()) Select(joined, recorded);
  }
  return 0;
}
