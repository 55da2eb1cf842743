#include "publish/site_list.h"

#include <gtest/gtest.h>

namespace {

TEST(SiteList, MakeBlockWritesCrLfLinesWithEntriesEndedByBackslash) {
  const std::string block = MakeBlock("2024-05-01", {{"tvq.ex_~", 7, -12}, {"a.txt", 0, 0}});
  EXPECT_EQ(block,
            "<update id=\"2024-05-01\">\r\n<files>\r\ntvq.ex_~:7:-12\\\r\na.txt:0:0\\\r\n</files>\r\n"
            "</update>\r\n");
}

TEST(SiteList, ListBlocksReadsHeadersAndIds) {
  bool complete = false;
  const auto blocks = ListBlocks("junk<update id=\"a\">x</update>\r\n<update id=\"b\">\r\ny</update>", &complete);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_TRUE(complete);
  EXPECT_EQ(blocks[0].text, "<update id=\"a\">x</update>");
  EXPECT_EQ(blocks[1].header, "<update id=\"b\">");
  EXPECT_EQ(blocks[1].id, "b");
  ListBlocks("<update id=\"a\"></update><update id=\"b\">", &complete);
  EXPECT_FALSE(complete);
}

TEST(SiteList, NewBlockMustSortAfterTheLastHeader) {
  const std::string list = MakeBlock("2024-05-01", {}) + MakeBlock("2024-06-13", {});
  struct Case {
    const char* id;
    bool accepted;
  } cases[] = {
      {"2024-06-14", true},  {"2024-06-13b", true}, {"2024-06-13", false},
      {"2024-06-1", false},  {"2024-06-13 ", false}, {"2024-05-02", false},
  };
  for (const auto& c : cases) EXPECT_EQ(OrderProblem(list, BlockHeader(c.id)).empty(), c.accepted) << c.id;
  EXPECT_TRUE(OrderProblem("", BlockHeader("0")).empty());
}

TEST(SiteList, PlainUpdateIds) {
  EXPECT_TRUE(IsPlainUpdateId("TVQ 2024-05-01 (fixes)"));
  for (const char* bad : {"", "a\"b", "a<b", "a>b", "a\\b", "a\rb", "a\tb"})
    EXPECT_FALSE(IsPlainUpdateId(bad)) << bad;
}

}  // namespace
