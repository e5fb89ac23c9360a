// tests/unit/bitvector_test.cpp - bit vectors: sizes, growth and the
// word-wise operations, checked against a plain std::vector<bool> model.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ir/bitvector.h"

namespace zor {
namespace {

std::vector<std::string> reports;
void record(const char *text) { reports.push_back(text); }

class BitvectorTest : public ::testing::Test {
protected:
  void SetUp() override {
    reports.clear();
    bitvector_warning_hook = record;
  }
  void TearDown() override { bitvector_warning_hook = [](const char *) {}; }

  static bitvector make(uint32_t size, std::initializer_list<uint32_t> bits) {
    bitvector v(size);
    for (uint32_t b : bits)
      v.add(b);
    return v;
  }
  static std::string bits(const bitvector &v) {
    std::string s;
    for (uint32_t i = 0; i < v.size; ++i)
      s += v.test(i) ? '1' : '0';
    return s;
  }
};

TEST_F(BitvectorTest, EmptyVectorGrowsOnAdd) {
  bitvector v(0);
  EXPECT_EQ(v.words, nullptr);
  EXPECT_FALSE(v.test(0));
  v.add(5);
  EXPECT_EQ(v.size, 6u);
  EXPECT_EQ(bits(v), "000001");
  EXPECT_EQ(reports, std::vector<std::string>{"Index beyond size:add"});
  v.remove(40);
  EXPECT_EQ(v.size, 41u);
  EXPECT_EQ(v.count(), 1u);
  EXPECT_EQ(reports.back(), "Index beyond size:remove");
}

TEST_F(BitvectorTest, TestBeyondSizeIsFalseAndChangesNothing) {
  bitvector v = make(10, {9});
  v.words[0] |= 1u << 12;   // a stale tail bit
  EXPECT_FALSE(v.test(12));
  EXPECT_EQ(v.size, 10u);
  EXPECT_TRUE(reports.empty());
}

TEST_F(BitvectorTest, GrowthBeyondCapacityClearsNewBitsInTheOldLastWord) {
  bitvector v = make(20, {19});
  v.words[0] |= 0xFFF00000u;   // junk above the size
  v.resize(100);
  EXPECT_EQ(v.capacity, 4u);
  EXPECT_EQ(v.count(), 1u);
  EXPECT_TRUE(v.test(19));
  // Growth inside the capacity clears the new bits too.
  bitvector w = make(64, {63});
  w.resize(40);
  w.words[1] |= 0xFFFFFF00u;
  w.resize(64);
  EXPECT_EQ(bits(w).find('1'), std::string::npos);
}

TEST_F(BitvectorTest, RangesClampAndGrow) {
  bitvector v(70);
  for (uint32_t i = 0; i < 70; ++i)
    v.add(i);
  v.clear_range(3, 66);
  EXPECT_EQ(v.count(), 6u);
  v.clear_range(5, 4);    // lo > hi
  v.clear_range(0, ~0u);  // hi all ones
  EXPECT_EQ(v.count(), 6u);
  v.clear_range(0, 99);
  EXPECT_EQ(v.size, 100u);
  EXPECT_TRUE(v.empty());

  bitvector src = make(40, {0, 31, 32, 39});
  bitvector dst = make(8, {1});
  dst.copy_range(src, 0, 1000);   // hi clamped to 39
  EXPECT_EQ(dst.size, 40u);
  EXPECT_TRUE(dst.test(0) && dst.test(31) && dst.test(32) && dst.test(39));
  EXPECT_FALSE(dst.test(1));
}

TEST_F(BitvectorTest, IntersectKeepsBitsBeyondTheShorterSource) {
  bitvector a = make(80, {1, 5, 40, 70});
  bitvector b = make(36, {5, 34});
  b.words[1] |= 0xF0;   // stale bits above b's size
  a.intersect(b);
  EXPECT_TRUE(a.test(5));
  EXPECT_FALSE(a.test(1));
  EXPECT_TRUE(a.test(40));   // beyond b's size: kept
  EXPECT_TRUE(a.test(70));
  EXPECT_EQ(b.words[1] & 0xF0u, 0u);   // b's tail is clean again
}

TEST_F(BitvectorTest, And3ClearsEverythingAboveTheSmallerOperand) {
  bitvector a = make(50, {1, 45});
  bitvector b = make(40, {1, 39});
  bitvector t = make(100, {1, 2, 60, 99});
  t.and3(a, b);
  EXPECT_EQ(t.size, 100u);
  EXPECT_EQ(t.count(), 1u);
  EXPECT_TRUE(t.test(1));
  bitvector small(4);
  small.and3(a, b);
  EXPECT_EQ(small.size, 40u);
  EXPECT_EQ(reports.back(), "Vector size mismatch:and3");
}

TEST_F(BitvectorTest, Diff3TakesTheUncoveredPartOfA) {
  bitvector a = make(70, {0, 10, 50, 69});
  bitvector b = make(33, {10, 32});
  bitvector t = make(90, {80});
  t.diff3(a, b);
  EXPECT_EQ(bits(t).substr(0, 70), bits(make(70, {0, 50, 69})));
  EXPECT_FALSE(t.test(80));
}

TEST_F(BitvectorTest, ChangeFlagsOfCmpCpyAndUnion) {
  bitvector a = make(64, {3});
  bitvector b = make(64, {3});
  EXPECT_FALSE(a.cmp_cpy(b));
  b.add(63);
  EXPECT_TRUE(a.cmp_cpy(b));
  EXPECT_TRUE(a == b);
  bitvector c = make(10, {2});
  EXPECT_TRUE(a.cmp_cpy(c));
  EXPECT_EQ(a.size, 10u);
  EXPECT_EQ(reports.back(), "Vector size mismatch:cmp_cpy");

  bitvector u = make(10, {2});
  EXPECT_FALSE(u.union_(&c));
  EXPECT_FALSE(u.union_(nullptr));
  EXPECT_TRUE(u.union_(&b));
  EXPECT_EQ(u.size, 64u);
  EXPECT_EQ(reports.back(), "Vector size mismatch:union");
}

TEST_F(BitvectorTest, MergeSubtractAndAssign) {
  bitvector a = make(10, {1});
  bitvector b = make(40, {1, 2, 39});
  a.merge(&b);
  EXPECT_EQ(reports.back(), "Vector size mismatch:merge");
  EXPECT_EQ(a.count(), 3u);
  a.merge(nullptr);
  a.subtract(&b);
  EXPECT_TRUE(a.empty());
  a.subtract(nullptr);

  bitvector empty(0);
  empty = b;
  EXPECT_EQ(empty.capacity, 2u);
  EXPECT_TRUE(empty == b);
  bitvector big = make(200, {150});
  big = b;   // takes b's size, keeps its store
  EXPECT_EQ(big.size, 40u);
  EXPECT_EQ(big.capacity, 7u);
  big = big;
  EXPECT_EQ(big.count(), 3u);
}

TEST_F(BitvectorTest, ZonedStoreIsNeverFreed) {
  bitvector_zone zone;
  {
    bitvector v(100, zone);
    v.add(99);
    EXPECT_TRUE(v.test(99));
  }   // would be a double free or a leak report under the sanitizer if freed
  EXPECT_EQ(reports, std::vector<std::string>{"Should not free a zoned bitvector"});
  bitvector w(8, zone);
  w.add(300);   // grows into a store of its own
  EXPECT_EQ(w.zoned, 0u);
}

// Random operations against a model, sizes straddling word boundaries.
TEST_F(BitvectorTest, AgreesWithAModel) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    uint32_t sa = rng() % 300, sb = rng() % 300;
    std::vector<bool> ma(sa), mb(sb);
    bitvector a(sa), b(sb);
    for (uint32_t i = 0; i < sa; ++i)
      if (rng() & 1) { a.add(i); ma[i] = true; }
    for (uint32_t i = 0; i < sb; ++i)
      if (rng() & 1) { b.add(i); mb[i] = true; }
    bitvector t(rng() % 300);
    t.and3(a, b);
    uint32_t m = std::min(sa, sb);
    for (uint32_t i = 0; i < t.size; ++i)
      ASSERT_EQ(t.test(i), i < m && ma[i] && mb[i]) << round << " bit " << i;
    bitvector d(0);
    d.diff3(a, b);
    for (uint32_t i = 0; i < sa; ++i)
      ASSERT_EQ(d.test(i), ma[i] && !(i < sb && mb[i])) << round << " bit " << i;
    uint32_t n = 0;
    for (uint32_t i = a.next(0); i < a.size; i = a.next(i + 1))
      ++n;
    ASSERT_EQ(n, a.count());
  }
}

} // namespace
} // namespace zor
