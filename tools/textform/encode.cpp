// tools/textform/encode.cpp - writing a Listing as I-code bytes.
#include "tools/textform/encode.h"

#include <cstdlib>
#include <map>

#include "icode/reader.h"
#include "icode/writer.h"
#include "ir/type.h"

namespace zor::text {

ByteSink::ByteSink() : scratch_types_(std::make_unique<TYPE_PKG>()) {
  mem_ = open_memstream(&buf_, &size_);
  if (!mem_)
    throw IcodeFatal(kBufferRealloc);
  writer_ = IcodeWriter::open(mem_, *scratch_types_, "");
  origin_ = writer_->tell();
}

ByteSink::~ByteSink() {
  if (writer_)
    writer_->close(true);
  writer_.reset();
  if (mem_)
    std::fclose(mem_);
  std::free(buf_);
}

void ByteSink::field(const Field &f) {
  IcodeWriter &w = *writer_;
  switch (f.enc) {
  case Enc::Byte: w.put_byte(static_cast<uint8_t>(f.num)); break;
  case Enc::Short: w.put_short(static_cast<long>(f.num)); break;
  case Enc::Word: w.put_word(f.num); break;
  case Enc::Uleb: w.put_uleb(f.num); break;
  case Enc::Sleb: w.put_sleb(f.snum()); break;
  case Enc::Text: w.put_text(f.str.c_str()); break;
  case Enc::Counted: w.put_counted(f.str.data(), static_cast<uint32_t>(f.str.size())); break;
  case Enc::Pos:
    // The file index as given: positions here are file-table indexes, not
    // names to intern.
    w.put_uleb(f.pos.file);
    if (f.pos.file != 0) {
      w.put_uleb(f.pos.line);
      w.put_uleb(f.pos.column);
    }
    break;
  case Enc::Texts:
    w.put_uleb(f.num);
    for (const std::string &t : f.texts)
      w.put_text(t.c_str());
    break;
  case Enc::Shorts:
    w.put_byte(static_cast<uint8_t>(f.num));
    for (uint16_t s : f.shorts)
      w.put_short(s);
    break;
  case Enc::Flags9:
  case Enc::Blob:
    for (char c : f.str)
      w.put_byte(static_cast<uint8_t>(c));
    break;
  }
}

void ByteSink::record(const Record &rec) {
  if (!rec.raw.empty()) {
    raw(rec.raw.data(), rec.raw.size());
    return;
  }
  for (const Field &f : rec.fields)
    field(f);
  writer_->end_record(rec.tag);
}

void ByteSink::raw(const uint8_t *data, size_t n) {
  // The writer sends each record to the stream as it ends, so bytes put on
  // the stream here land in order.
  std::fwrite(data, 1, n, mem_);
}

void ByteSink::end_tag() {
  const uint8_t t = 255;
  raw(&t, 1);
}

uint64_t ByteSink::tell() const {
  long at = std::ftell(mem_);
  return at < 0 ? 0 : static_cast<uint64_t>(at) - origin_;
}

std::vector<uint8_t> ByteSink::bytes() {
  std::fflush(mem_);
  if (size_ <= origin_)
    return {};
  return std::vector<uint8_t>(buf_ + origin_, buf_ + size_);
}

std::vector<uint8_t> ByteSink::slice(uint64_t from, uint64_t to) {
  std::fflush(mem_);
  from += origin_;
  to += origin_;
  if (to > size_)
    to = size_;
  if (from >= to)
    return {};
  return std::vector<uint8_t>(buf_ + from, buf_ + to);
}

std::vector<uint8_t> encode_record(const Record &rec) {
  if (!rec.raw.empty())
    return rec.raw;
  ByteSink sink;
  sink.record(rec);
  return sink.bytes();
}

std::vector<uint8_t> uleb_bytes(uint32_t v) {
  Record r;
  Field f;
  f.enc = Enc::Uleb;
  f.num = v;
  r.fields.push_back(f);
  // Tag, a one-byte length, then the number.
  std::vector<uint8_t> b = encode_record(r);
  return std::vector<uint8_t>(b.begin() + 2, b.end());
}

size_t raw_header_offsets_at(const std::vector<uint8_t> &raw) {
  size_t at = 1;
  while (at < raw.size() && (raw[at] & 0x80))
    ++at;
  ++at;
  while (at < raw.size() && raw[at] != 0)
    ++at;
  at += 1 + 4;
  return at + 20 <= raw.size() ? at : 0;
}

namespace {

// One layout pass.  `init_at` gives, by global index, where the first
// initializer record of that symbol lies; it is filled for the next pass.
std::vector<uint8_t> lay_out(const Listing &l, const std::map<uint32_t, uint32_t> &init_at,
                             std::map<uint32_t, uint32_t> &found) {
  ByteSink sink;
  auto put = [&](const Record &rec) {
    if (rec.tag == 35 && rec.raw.empty() && rec.fields.size() > 9 &&
        rec.fields[9].derived_init_pos) {
      Record copy = rec;
      auto it = init_at.find(rec.global_index);
      copy.fields[9].num = it == init_at.end() ? 0 : it->second;
      sink.record(copy);
      return;
    }
    sink.record(rec);
  };

  Record header = l.header;
  uint32_t offsets[SEC_COUNT] = {};
  // First pass with zero offsets: the header has a fixed length as long as
  // its fields do not change size, and words never do.
  if (l.have_header)
    put(header);
  for (const Record &r : l.stream.records)
    put(r);
  sink.end_tag();
  for (Section s : kWriterOrder) {
    const Region &reg = l.sections[s];
    if (!reg.present)
      continue;
    offsets[s] = static_cast<uint32_t>(sink.tell());
    for (const Record &r : reg.records) {
      if (s == SEC_INITS && r.tag != 101 && !found.count(r.num(0)))
        found[r.num(0)] = static_cast<uint32_t>(sink.tell());
      put(r);
    }
    sink.end_tag();
  }
  std::vector<uint8_t> out = sink.bytes();
  if (!l.have_header)
    return out;
  if (!l.header.raw.empty()) {
    // A header kept byte for byte gets the offsets too: they follow the tag,
    // the length, the magic text, the version and the check value.
    size_t at = raw_header_offsets_at(l.header.raw);
    if (at == 0 || at + 20 > out.size())
      return out;
    for (int s = 0; s < SEC_COUNT; ++s)
      for (int b = 0; b < 4; ++b)
        out[at + 4 * kHeaderOffsetSlot[s] + b] = static_cast<uint8_t>(offsets[s] >> (8 * b));
    return out;
  }
  if (l.header.fields.size() <= kHeaderFirstOffset + 4)
    return out;
  // Patch the offset words in place.
  header = l.header;
  for (int s = 0; s < SEC_COUNT; ++s)
    header.fields[kHeaderFirstOffset + kHeaderOffsetSlot[s]].num = offsets[s];
  std::vector<uint8_t> hb = encode_record(header);
  for (size_t i = 0; i < hb.size() && i < out.size(); ++i)
    out[i] = hb[i];
  return out;
}

} // namespace

std::vector<uint8_t> encode_listing(const Listing &listing) {
  std::map<uint32_t, uint32_t> init_at;
  std::vector<uint8_t> out;
  // Initializer positions in symbols of the main stream move what follows
  // them; a few passes settle them.
  for (int pass = 0; pass < 8; ++pass) {
    std::map<uint32_t, uint32_t> found;
    out = lay_out(listing, init_at, found);
    if (found == init_at)
      break;
    init_at = std::move(found);
  }
  return out;
}

} // namespace zor::text
