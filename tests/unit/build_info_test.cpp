#include "app/run/build_info.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/context/names.h"
#include "app/fetch/minisign.h"
#include "app/run/run.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "the report does not end with a line end";
  return lines;
}

TEST(BuildInfo, VersionReportNamesVersionDefaultSiteAndChannel) {
  const std::vector<std::string> lines = Lines(VersionReport("TvqLupd"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string("tvqlupd ") + kVersion);
  // The site ends with the program's name in lower case, as the run uses it.
  const std::string base = DefaultSiteBase();
  EXPECT_EQ(lines[1], "default update site: " + (base.empty() ? "none" : base + "tvqlupd/"));
  const std::string channel = BuiltInChannel();
  EXPECT_EQ(lines.back(), "built-in channel: " +
                              (channel.empty() ? "none (the setting LiveUpdate.channel decides)" : channel));
}

TEST(BuildInfo, VersionReportNamesEachBuiltInKeyByItsId) {
  const std::vector<std::string> lines = Lines(VersionReport("tvqlupd"));
  const std::vector<MinisignPublicKey> keys = ParsePublicKeys(BuiltInKeysText());
  if (keys.empty()) {
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "built-in keys: none (the setting LiveUpdate.publicKey decides)");
    return;
  }
  ASSERT_EQ(lines.size(), 3 + keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(lines[2 + i], "built-in key: " + KeyIdText(keys[i].keyId) + " " + PublicKeyLine(keys[i]));
}

}  // namespace
