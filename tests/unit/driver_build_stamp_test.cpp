// Build stamp coding: date letters, host and version characters, branch words.
#include "driver/build_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace zor {
namespace {

TEST(BuildStampTest, WholeStamp) {
  // 2017 -> "R", September -> "J" (no "I"), day 15 -> "F", hour 13 -> "N".
  EXPECT_EQ(code_build_stamp({2017, 9, 15, 13}, "build-01", "19.00", "2.7.0(0.306/5/3)", "Main"),
            "1RJFN-1K8B3%QR-RZAQQ-SAX-C08D");
}

TEST(BuildStampTest, DateCharacters) {
  auto date = [](int y, int m, int d, int h) {
    return code_build_stamp({y, m, d, h}, "", "", "", "").substr(1, 4);
  };
  EXPECT_EQ(date(2017, 1, 1, 0), "RA1A");
  EXPECT_EQ(date(2017, 8, 9, 23), "RH9X");
  EXPECT_EQ(date(2017, 12, 10, 24), "RMAA");   // day 10 -> "A", hour 24 counts as 0
  EXPECT_EQ(date(2018, 10, 31, 12), "SKVM");
}

TEST(BuildStampTest, HostAndVersionCharacters) {
  EXPECT_EQ(code_host_char('a'), '0');
  EXPECT_EQ(code_host_char('J'), '9');
  EXPECT_EQ(code_host_char('k'), 'A');
  EXPECT_EQ(code_host_char('Z'), 'P');
  EXPECT_EQ(code_host_char('0'), 'Q');
  EXPECT_EQ(code_host_char('9'), 'Z');
  EXPECT_EQ(code_host_char('-'), '%');
  EXPECT_EQ(code_version_char('.'), 'A');
  EXPECT_EQ(code_version_char('-'), 'B');
  EXPECT_EQ(code_version_char('('), 'C');
  EXPECT_EQ(code_version_char('a'), 'C');
  // Host names are cut or padded to eight characters, the compiler version
  // to five and the product version to three.
  std::string s = code_build_stamp({2017, 1, 1, 0}, "averylonghostname", "12.2.0", "1", "Main");
  EXPECT_EQ(s, "1RA1A-0L4HOBED-RSASA-RQQ-C08D");
  s = code_build_stamp({2017, 1, 1, 0}, "ab", "9", "1.0.0", "x");
  EXPECT_EQ(s, "1RA1A-01%%%%%%-ZQQQQ-RAQ-N");
}

TEST(BuildStampTest, BranchCoding) {
  EXPECT_EQ(code_branch("Main"), "C08D");
  EXPECT_EQ(code_branch("Release_2.7"), "ZAS.X");
  EXPECT_EQ(code_branch("Development_Release_x_y"), "ZBZAN_");
  EXPECT_EQ(code_branch("Sandbox_"), "ZJ");
  EXPECT_EQ(code_branch("Z9-b.c"), "ZZZ9-1");   // four positions only
  EXPECT_EQ(code_branch("Releasex"), "H4B4");   // not the whole word
  EXPECT_EQ(code_branch(""), "");
}

} // namespace
} // namespace zor
