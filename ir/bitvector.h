// ir/bitvector.h - growable, word-packed bit sets for data-flow analyses.
//
// Every data-flow problem (IN/OUT sets, available expressions, kill sets,
// loop membership) is a set of small integers held in one `bitvector`.
// Size discipline: bits at and above `size` inside the last used word are
// cleared before any word-wise operation reads them, so stale bits never
// leak into a result.  An out-of-range add/remove grows the vector (and
// reports the repair to the internal-warning hook) instead of failing; test
// beyond the size is simply false.  A zoned vector's store belongs to an
// arena (bitvector_zone) and is never freed by the vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zor {

// Receives the texts of the size repairs ("Index beyond size:add", ...).
// The default does nothing; tests install their own.
extern void (*bitvector_warning_hook)(const char *text);

// An arena of word stores for zoned vectors; releases everything at once.
class bitvector_zone {
public:
  bitvector_zone() = default;
  bitvector_zone(const bitvector_zone &) = delete;
  bitvector_zone &operator=(const bitvector_zone &) = delete;

  uint32_t *allocate(uint32_t nwords);   // cleared words

private:
  std::vector<std::unique_ptr<uint32_t[]>> blocks_;
  uint32_t *cursor_ = nullptr;
  size_t left_ = 0;
};

class bitvector {
public:
  uint32_t size = 0;       // logical number of bits
  uint32_t nwords = 0;     // (size + 31) / 32
  uint32_t capacity = 0;   // words allocated in `words`
  uint32_t zoned = 0;      // non-zero: `words` belongs to a zone
  uint32_t *words = nullptr;

  explicit bitvector(uint32_t n = 0);
  // A vector whose store comes from `zone`.
  bitvector(uint32_t n, bitvector_zone &zone);
  bitvector(const bitvector &src);
  bitvector &operator=(const bitvector &src);
  bitvector(bitvector &&src) noexcept;
  bitvector &operator=(bitvector &&src) noexcept;
  ~bitvector();

  void add(uint32_t i);
  void remove(uint32_t i);
  bool test(uint32_t i) const {
    return i < size && (words[i >> 5] >> (i & 31) & 1u) != 0;
  }
  void resize(uint32_t n);
  void clear_range(uint32_t lo, uint32_t hi);
  void copy_range(const bitvector &src, uint32_t lo, uint32_t hi);

  void merge(const bitvector *src);            // this |= src
  void intersect(const bitvector &src);        // this &= src
  void subtract(const bitvector *src);         // this &= ~src
  void and3(const bitvector &a, const bitvector &b);    // this = a & b
  void diff3(const bitvector &a, const bitvector &b);   // this = a & ~b
  bool cmp_cpy(const bitvector &src);          // this = src; changed?
  // this |= src; changed?  (`union` is a keyword in C++.)
  bool union_(const bitvector *src);

  // Conveniences for the analyses.
  void clear_all();
  bool empty() const;
  uint32_t count() const;
  // The next set bit at or after `from`, or `size` when there is none.
  uint32_t next(uint32_t from) const;
  bool operator==(const bitvector &o) const;

private:
  void clear_tail() const;
  void grow_for(uint32_t index, const char *report);
};

} // namespace zor
