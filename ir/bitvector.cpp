// ir/bitvector.cpp - growable, word-packed bit sets.
//
// The word loops are the hot path of every data-flow iteration.  They are
// written over 32-bit words with restrict-qualified stores so that the
// compiler unrolls and vectorizes them; overlapping stores (a vector
// combined with itself) take the plain loop, which gives the same result.
#include "ir/bitvector.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zor {

namespace {

void no_warning(const char *) {}

uint32_t words_for(uint32_t bits) { return static_cast<uint32_t>((uint64_t{bits} + 31) / 32); }

template <class Op>
bool word_loop(uint32_t *dst, const uint32_t *src, uint32_t n, Op op) {
  uint32_t changed = 0;
  if (dst == src) {
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t v = op(dst[i], src[i]);
      changed |= v ^ dst[i];
      dst[i] = v;
    }
    return changed != 0;
  }
  uint32_t *__restrict d = dst;
  const uint32_t *__restrict s = src;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v = op(d[i], s[i]);
    changed |= v ^ d[i];
    d[i] = v;
  }
  return changed != 0;
}

} // namespace

void (*bitvector_warning_hook)(const char *) = no_warning;

// ------------------------------------------------------------------- zone

uint32_t *bitvector_zone::allocate(uint32_t nwords) {
  if (nwords == 0)
    return nullptr;
  if (nwords > left_) {
    size_t block = std::max<size_t>(nwords, 4096);
    blocks_.push_back(std::make_unique<uint32_t[]>(block));   // value-initialized
    cursor_ = blocks_.back().get();
    left_ = block;
  }
  uint32_t *p = cursor_;
  cursor_ += nwords;
  left_ -= nwords;
  return p;
}

// ----------------------------------------------------------- construction

bitvector::bitvector(uint32_t n) : size(n), nwords(words_for(n)), capacity(nwords) {
  if (capacity)
    words = new uint32_t[capacity]();
}

bitvector::bitvector(uint32_t n, bitvector_zone &zone)
    : size(n), nwords(words_for(n)), capacity(nwords), zoned(1) {
  words = zone.allocate(capacity);
}

bitvector::bitvector(const bitvector &src) : bitvector(0) { *this = src; }

bitvector::bitvector(bitvector &&src) noexcept
    : size(src.size), nwords(src.nwords), capacity(src.capacity), zoned(src.zoned),
      words(src.words) {
  src.size = src.nwords = src.capacity = 0;
  src.zoned = 0;
  src.words = nullptr;
}

bitvector &bitvector::operator=(bitvector &&src) noexcept {
  if (this != &src) {
    if (!zoned)
      delete[] words;
    size = src.size;
    nwords = src.nwords;
    capacity = src.capacity;
    zoned = src.zoned;
    words = src.words;
    src.size = src.nwords = src.capacity = 0;
    src.zoned = 0;
    src.words = nullptr;
  }
  return *this;
}

bitvector::~bitvector() {
  if (zoned) {
    bitvector_warning_hook("Should not free a zoned bitvector");
    return;
  }
  delete[] words;
}

bitvector &bitvector::operator=(const bitvector &src) {
  if (this == &src)
    return *this;
  if (size == 0) {
    if (!zoned)
      delete[] words;
    size = src.size;
    nwords = capacity = words_for(src.size);
    zoned = 0;
    words = capacity ? new uint32_t[capacity]() : nullptr;
  } else {
    if (src.size > size)
      resize(src.size);
    size = src.size;
    nwords = src.nwords;
  }
  if (nwords)
    std::memcpy(words, src.words, nwords * sizeof(uint32_t));
  return *this;
}

// ------------------------------------------------------------ single bits

void bitvector::grow_for(uint32_t index, const char *report) {
  bitvector_warning_hook(report);
  resize(index + 1);
}

void bitvector::add(uint32_t i) {
  if (i >= size)
    grow_for(i, "Index beyond size:add");
  words[i >> 5] |= 1u << (i & 31);
}

void bitvector::remove(uint32_t i) {
  if (i >= size)
    grow_for(i, "Index beyond size:remove");
  words[i >> 5] &= ~(1u << (i & 31));
}

// ------------------------------------------------------------------ sizes

// Clears the bits at and above `size` in the last used word.  The store is
// logically part of the value's representation, not of the value, so const
// operations may clean it.
void bitvector::clear_tail() const {
  if (size % 32 != 0)
    words[nwords - 1] &= ~(~0u << (size % 32));
}

void bitvector::resize(uint32_t n) {
  const uint32_t s = size;
  if (n == s)
    return;
  if (uint64_t{n} <= uint64_t{capacity} * 32) {
    size = n;
    nwords = words_for(n);
    if (n > s)
      clear_range(s, n - 1);
    return;
  }
  if (nwords)
    clear_tail();
  uint32_t *old = words;
  const uint32_t old_words = nwords;
  size = n;
  nwords = capacity = words_for(n);
  words = capacity ? new uint32_t[capacity]() : nullptr;
  if (old_words)
    std::memcpy(words, old, old_words * sizeof(uint32_t));
  if (!zoned)
    delete[] old;
  zoned = 0;   // the new store is the vector's own
}

void bitvector::clear_range(uint32_t lo, uint32_t hi) {
  if (lo > hi || hi == ~0u)
    return;
  if (hi >= size)
    resize(hi + 1);
  uint32_t first = lo >> 5, last = hi >> 5;
  uint32_t lo_mask = ~0u << (lo & 31);
  uint32_t hi_mask = ~0u >> (31 - (hi & 31));
  if (first == last) {
    words[first] &= ~(lo_mask & hi_mask);
    return;
  }
  words[first] &= ~lo_mask;
  for (uint32_t w = first + 1; w < last; ++w)
    words[w] = 0;
  words[last] &= ~hi_mask;
}

void bitvector::copy_range(const bitvector &src, uint32_t lo, uint32_t hi) {
  if (src.size == 0)
    return;
  hi = std::min(hi, src.size - 1);
  if (lo > hi || hi == ~0u)
    return;
  if (hi >= size)
    resize(hi + 1);
  for (uint32_t i = lo; i <= hi;) {
    // Whole words where both ends are aligned; single bits at the edges.
    if ((i & 31) == 0 && hi - i >= 31) {
      words[i >> 5] = src.words[i >> 5];
      i += 32;
      continue;
    }
    if (src.test(i))
      words[i >> 5] |= 1u << (i & 31);
    else
      words[i >> 5] &= ~(1u << (i & 31));
    ++i;
  }
}

// ------------------------------------------------------ word-wise algebra

void bitvector::merge(const bitvector *src) {
  if (!src)
    return;
  if (size < src->size) {
    bitvector_warning_hook("Vector size mismatch:merge");
    resize(src->size);
  }
  src->clear_tail();
  word_loop(words, src->words, src->nwords, [](uint32_t a, uint32_t b) { return a | b; });
}

void bitvector::intersect(const bitvector &src) {
  const uint32_t n = std::min(nwords, src.nwords);
  if (n == 0)
    return;
  // Bits of this beyond src's size stay: src's tail reads as ones here.
  const uint32_t tail = src.size % 32;
  const uint32_t keep = tail ? ~0u << tail : 0;
  uint32_t saved = src.words[src.nwords - 1];
  if (tail)
    src.words[src.nwords - 1] |= keep;
  word_loop(words, src.words, n, [](uint32_t a, uint32_t b) { return a & b; });
  if (tail && &src != this)
    src.words[src.nwords - 1] = saved & ~keep;
  else if (tail)
    clear_tail();
}

void bitvector::subtract(const bitvector *src) {
  if (!src)
    return;
  src->clear_tail();
  word_loop(words, src->words, std::min(nwords, src->nwords),
            [](uint32_t a, uint32_t b) { return a & ~b; });
}

void bitvector::and3(const bitvector &a, const bitvector &b) {
  const uint32_t m = std::min(a.size, b.size);
  if (size < m) {
    bitvector_warning_hook("Vector size mismatch:and3");
    resize(m);
  }
  a.clear_tail();
  b.clear_tail();
  const uint32_t n = std::min(a.nwords, b.nwords);
  for (uint32_t i = 0; i < n; ++i)
    words[i] = a.words[i] & b.words[i];
  if (m < size)
    clear_range(m, size - 1);
}

void bitvector::diff3(const bitvector &a, const bitvector &b) {
  if (size < a.size)
    resize(a.size);
  a.clear_tail();
  b.clear_tail();
  const uint32_t n = std::min(a.nwords, b.nwords);
  for (uint32_t i = 0; i < n; ++i)
    words[i] = a.words[i] & ~b.words[i];
  if (a.size > 0)
    copy_range(a, b.size, a.size - 1);
  if (a.size < size)
    clear_range(a.size, size - 1);
}

bool bitvector::cmp_cpy(const bitvector &src) {
  if (size != src.size) {
    bitvector_warning_hook("Vector size mismatch:cmp_cpy");
    resize(src.size);
  }
  if (nwords)
    clear_tail();
  if (src.nwords)
    src.clear_tail();
  return word_loop(words, src.words, src.nwords, [](uint32_t, uint32_t b) { return b; });
}

bool bitvector::union_(const bitvector *src) {
  if (!src)
    return false;
  if (size < src->size) {
    bitvector_warning_hook("Vector size mismatch:union");
    resize(src->size);
  }
  src->clear_tail();
  return word_loop(words, src->words, src->nwords, [](uint32_t a, uint32_t b) { return a | b; });
}

// ----------------------------------------------------------- conveniences

void bitvector::clear_all() {
  if (nwords)
    std::memset(words, 0, nwords * sizeof(uint32_t));
}

bool bitvector::empty() const {
  if (nwords == 0)
    return true;
  clear_tail();
  for (uint32_t i = 0; i < nwords; ++i)
    if (words[i])
      return false;
  return true;
}

uint32_t bitvector::count() const {
  if (nwords == 0)
    return 0;
  clear_tail();
  uint32_t c = 0;
  for (uint32_t i = 0; i < nwords; ++i)
    c += static_cast<uint32_t>(std::popcount(words[i]));
  return c;
}

uint32_t bitvector::next(uint32_t from) const {
  if (from >= size)
    return size;
  clear_tail();
  uint32_t w = from >> 5;
  uint32_t bits = words[w] & (~0u << (from & 31));
  while (true) {
    if (bits)
      return std::min(size, w * 32 + static_cast<uint32_t>(std::countr_zero(bits)));
    if (++w >= nwords)
      return size;
    bits = words[w];
  }
}

bool bitvector::operator==(const bitvector &o) const {
  if (size != o.size)
    return false;
  if (nwords == 0)
    return true;
  clear_tail();
  o.clear_tail();
  return std::memcmp(words, o.words, nwords * sizeof(uint32_t)) == 0;
}

} // namespace zor
