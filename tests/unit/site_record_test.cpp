// The site's record as text: what the publisher writes reads back, and a
// torn or foreign record is refused with why.
#include <gtest/gtest.h>

#include "app/list/site_record.h"

namespace {

const std::string kDigest(64, 'a');

TEST(SiteRecord, WrittenRecordReadsBackAndLaterKindsArePassedOver) {
  SiteRecord record;
  record.list = DigestOfBytes("the list");
  record.files["tvq.ex_"] = DigestOfBytes("program");
  record.files["readme.txt~"] = DigestOfBytes("");
  record.expanded["tvq.ex_"] = DigestOfBytes("expanded program");
  record.patches.push_back({"tvq.ex_", "p1", DigestOfBytes("p"), DigestOfBytes("old"), record.expanded["tvq.ex_"]});
  record.patches.push_back({"tvq.ex_", "p2", DigestOfBytes("p"), DigestOfBytes("old"), DigestOfBytes("other")});
  std::string text = SiteRecordText(record);
  text += "mirror\thttps://example.org/\n";  // a kind of fact this reader does not know
  std::string why;
  const auto read = ParseSiteRecord(text, &why);
  ASSERT_TRUE(read) << why;
  EXPECT_EQ(read->list, record.list);
  EXPECT_EQ(read->files, record.files);
  EXPECT_EQ(read->expanded, record.expanded);
  // A patch makes the current content when it gives the listed bytes or
  // what the packed program expands to.
  EXPECT_TRUE(read->MakesCurrent(read->patches[0]));
  EXPECT_FALSE(read->MakesCurrent(read->patches[1]));
  EXPECT_EQ(read->FileNamed("readme.txt~")->size, 0);
  EXPECT_EQ(read->FileNamed("readme.txt"), nullptr);
  // BLAKE2b with a 32-byte digest (not BLAKE2b-512 cut short) of "abc".
  EXPECT_EQ(DigestOfBytes("abc").digest, "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319");
}

TEST(SiteRecord, TornOrForeignRecordsAreRefused) {
  const std::string head = "tvq-record 1\n";
  const std::string list = "list\t8\t" + kDigest + "\n";
  const struct {
    std::string text;
    std::string why;
  } cases[] = {
      {"", "it does not begin with \"tvq-record 1\""},
      {"tvq-record 2\n" + list, "it does not begin"},
      {head + list + "file\ta\t1\t" + kDigest, "it is torn"},
      {head + "file\ta\t1\t" + kDigest + "\n", "it names no list"},
      {head + list + list, "line 3 does not read"},
      {head + list + "file\ta\t1\t" + kDigest + "\nfile\ta\t1\t" + kDigest + "\n", "line 4 does not read"},
      {head + list + "expanded\ta\t1\n", "line 3 does not read"},
      {head + list + "file\ta\t-1\t" + kDigest + "\n", "line 3 does not read"},
      {head + list + "file\ta\t1\t" + std::string(64, 'A') + "\n", "line 3 does not read"},
      {head + list + "file\t\t1\t" + kDigest + "\n", "line 3 does not read"},
      {head + "list\t8\n", "line 2 does not read"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(ParseSiteRecord(c.text, &why)) << c.text;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.text << "\n" << why;
  }
}

}  // namespace
