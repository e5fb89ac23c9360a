// Switch table: list parsing, values, kinds, ordering and handles.
#include "driver/switches.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace zor {
namespace {

class SwitchesTest : public ::testing::Test {
protected:
  void SetUp() override { sw::reset_switches(); }
  void TearDown() override { sw::reset_switches(); }
};

TEST_F(SwitchesTest, EmptyTableReadsZero) {
  EXPECT_EQ(sw::switch_count(), 0u);
  EXPECT_EQ(sw::debug("skip_pass"), 0);
  EXPECT_FALSE(sw::disable("cps"));
  EXPECT_EQ(sw::enable("fusion"), 0);
  EXPECT_EQ(sw::lookup("debug:skip_pass"), 0);
  EXPECT_EQ(sw::switch_count(), 0u);
}

TEST_F(SwitchesTest, ItemsWithAndWithoutValues) {
  ASSERT_TRUE(sw::parse_switch_list("debug", "skip_pass=13,list_passes"));
  EXPECT_EQ(sw::debug("skip_pass"), 13);
  EXPECT_EQ(sw::debug("list_passes"), 1);
  EXPECT_EQ(sw::debug("split_odb"), 0);
  EXPECT_EQ(sw::switch_count(), 2u);
}

TEST_F(SwitchesTest, LastSettingWins) {
  ASSERT_TRUE(sw::parse_switch_list("debug", "skip_pass=5"));
  ASSERT_TRUE(sw::parse_switch_list("debug", "skip_pass=7"));
  EXPECT_EQ(sw::debug("skip_pass"), 7);
  ASSERT_TRUE(sw::parse_switch_list("debug", "inline_n=1,inline_n=2"));
  EXPECT_EQ(sw::debug("inline_n"), 2);
  EXPECT_EQ(sw::switch_count(), 2u);
}

TEST_F(SwitchesTest, ValuesAreCIntegers) {
  ASSERT_TRUE(sw::parse_switch_list(
      "debug", "hex=0x10,oct=010,dec=10,none=,junk=abc,tail=12abc,neg=-3,upper=0X1f"));
  EXPECT_EQ(sw::debug("hex"), 16);
  EXPECT_EQ(sw::debug("oct"), 8);
  EXPECT_EQ(sw::debug("dec"), 10);
  EXPECT_EQ(sw::debug("none"), 0);
  EXPECT_EQ(sw::debug("junk"), 0);
  EXPECT_EQ(sw::debug("tail"), 12);
  EXPECT_EQ(sw::debug("neg"), -3);
  EXPECT_EQ(sw::debug("upper"), 31);

  ASSERT_TRUE(sw::parse_switch_list("debug", "big=0x100000000,small=-99999999999"));
  EXPECT_EQ(sw::debug("big"), INT32_MAX);
  EXPECT_EQ(sw::debug("small"), INT32_MIN);
}

TEST_F(SwitchesTest, ValueZeroReadsAsNotGiven) {
  ASSERT_TRUE(sw::parse_switch_list("disable", "cps=0,ilp"));
  EXPECT_FALSE(sw::disable("cps"));
  EXPECT_TRUE(sw::disable("ilp"));
}

TEST_F(SwitchesTest, OnlyTheFirstEqualsSignSplits) {
  ASSERT_TRUE(sw::parse_switch_list("debug", "a=3=4"));
  EXPECT_EQ(sw::debug("a"), 3);
  EXPECT_EQ(sw::debug("a=3"), 0);
}

TEST_F(SwitchesTest, KindsAreIndependent) {
  ASSERT_TRUE(sw::parse_switch_list("debug", "lir"));
  EXPECT_EQ(sw::debug("lir"), 1);
  EXPECT_EQ(sw::enable("lir"), 0);
  ASSERT_TRUE(sw::parse_switch_list("enable", "lir=2"));
  EXPECT_EQ(sw::enable("lir"), 2);
  EXPECT_EQ(sw::debug("lir"), 1);
  EXPECT_FALSE(sw::disable("lir"));
}

TEST_F(SwitchesTest, KeysAreCaseSensitive) {
  ASSERT_TRUE(sw::parse_switch_list("debug", "simd"));
  EXPECT_EQ(sw::debug("SIMD"), 0);
  ASSERT_TRUE(sw::parse_switch_list("debug", "SIMD=4"));
  EXPECT_EQ(sw::debug("SIMD"), 4);
  EXPECT_EQ(sw::debug("simd"), 1);
}

TEST_F(SwitchesTest, EmptyItemsAreSkipped) {
  ASSERT_TRUE(sw::parse_switch_list("debug", ",a,,b,"));
  EXPECT_EQ(sw::switch_count(), 2u);
  EXPECT_EQ(sw::debug("a"), 1);
  EXPECT_EQ(sw::debug("b"), 1);
}

// Many keys in scrambled order exercise growth past 100 entries and the
// sorted insertion that the binary search relies on.
TEST_F(SwitchesTest, ManyKeysStaySearchable) {
  for (int i = 0; i < 250; ++i) {
    const int n = (i * 97) % 250;
    const std::string item = "k" + std::to_string(n) + "=" + std::to_string(n + 1);
    ASSERT_TRUE(sw::parse_switch_list("enable", item.c_str()));
  }
  EXPECT_EQ(sw::switch_count(), 250u);
  for (int n = 0; n < 250; ++n)
    EXPECT_EQ(sw::enable(("k" + std::to_string(n)).c_str()), n + 1) << n;
  EXPECT_EQ(sw::enable("k250"), 0);
  EXPECT_EQ(sw::enable("k"), 0);
}

TEST_F(SwitchesTest, OverlongKeyIsRefused) {
  // "debug:" is 6 characters: a 505-character name makes a 511-character
  // key, the longest one taken.
  const std::string longest(505, 'n');
  const std::string too_long(506, 'm');
  std::string refused;
  EXPECT_TRUE(sw::parse_switch_list("debug", longest.c_str(), &refused));
  EXPECT_EQ(sw::debug(longest.c_str()), 1);

  const std::string list = "a=1," + too_long + "=5,b";
  EXPECT_FALSE(sw::parse_switch_list("debug", list.c_str(), &refused));
  EXPECT_EQ(refused, too_long + "=5");
  EXPECT_EQ(sw::debug("a"), 1);
  EXPECT_EQ(sw::debug("b"), 1);
  EXPECT_EQ(sw::debug(too_long.c_str()), 0);
  EXPECT_EQ(sw::switch_count(), 3u);
}

TEST_F(SwitchesTest, HandlesShareTheirKeyText) {
  sw::switch_handle a("debug", "skip_pass");
  sw::switch_handle b("debug:skip_pass");
  sw::switch_handle c("enable", "skip_pass");
  EXPECT_EQ(a.key(), b.key());
  EXPECT_STREQ(a.key(), "debug:skip_pass");
  EXPECT_NE(a.key(), c.key());
  EXPECT_EQ(a.value(), 0);
  EXPECT_FALSE(a);

  ASSERT_TRUE(sw::parse_switch_list("debug", "skip_pass=9"));
  EXPECT_EQ(a.value(), 9);
  EXPECT_TRUE(b);
  EXPECT_EQ(c.value(), 0);
}

} // namespace
} // namespace zor
