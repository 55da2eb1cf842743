#pragma once
// Builds an update site in a directory for tests: files, and a list whose
// blocks give each file's size and checksum, in the layout tvqpublish makes
// (CR LF lines, one "name:size:checksum\" entry per line).
//
//   SiteBuilder site(dir.path());
//   auto a = site.AddFile("tvq.exe", "new program");
//   site.AddUpdate("2024-05-01", {a});        // writes !update-info.txt
//   ctx.site = site.FileUrl();                // or server.BaseUrl()

#include <string>
#include <vector>

#include "app/list/file_entries.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "publish/site_list.h"
#include "temp_dir.h"

class SiteBuilder {
 public:
  explicit SiteBuilder(std::string dir) : dir_(std::move(dir)) { os::MakeDirectories(dir_); }

  // Writes the file to the site and returns its entry.
  FileEntry AddFile(const std::string& name, const std::string& content) {
    WriteFile(Path(name), content);
    return EntryOfFile(name, Path(name));
  }
  // Appends an update block with these entries and rewrites the list.
  // Returns the block's header line (what an installation records).
  std::string AddUpdate(const std::string& id, const std::vector<FileEntry>& entries) {
    list_ += MakeBlock(id, entries);
    WriteFile(Path(kUpdateListName), list_);
    return BlockHeader(id);
  }
  // Replaces the list with any text.
  void SetList(const std::string& text) {
    list_ = text;
    WriteFile(Path(kUpdateListName), list_);
  }

  const std::string& Dir() const { return dir_; }
  const std::string& ListText() const { return list_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string FileUrl() const { return "file://" + dir_ + "/"; }

 private:
  std::string dir_;
  std::string list_;
};
