// tools/textform/decode.cpp - reading an I-code image into a Listing.
#include "tools/textform/decode.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "icode/byte_stream.h"
#include "icode/interchange_ops.h"
#include "icode/reader.h"
#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "tools/textform/encode.h"
#include "tools/textform/forms.h"

namespace zor::text {

bool is_defining_kind(int kind) {
  return (kind >= 0 && kind <= 20) || kind == 22 || kind == 24 || kind == 25 || kind == 36 ||
         kind == 49 || kind == 50 || kind == 51;
}

unsigned node_operands(uint32_t op) {
  const InterchangeOp *e = interchange_op(op);
  if (!e || op == SKIP)
    return 0;
  return e->arity == 1 || e->arity == 2 ? e->arity : 0;
}

void apply_record(Context &ctx, const Record &rec, const std::string *label) {
  switch (rec.role) {
  case Role::FileName:
    if (!rec.fields.empty())
      ctx.add_file(rec.fields[0].str);
    return;
  case Role::Stream:
  case Role::Symbol:
  case Role::Type:
    break;
  default:
    return;   // nothing the context keeps
  }
  if (rec.tag == TAG_SYMBOL && rec.fields.size() > 5) {
    const std::string &name = rec.fields[0].str;
    ctx.enter_symbol(label ? *label : ctx.derive_symbol_label(name, ctx.depth() == 0), name,
                     rec.fields[5].num);
    return;
  }
  if (rec.tag == TAG_TYPE && rec.fields.size() >= 2) {
    if (is_defining_kind(static_cast<int>(rec.fields[1].num)))
      ctx.bind_type(rec, label ? *label : ctx.derive_type_label(rec));
    else
      ctx.note_type_record(rec);
    return;
  }
  if (rec.role == Role::Stream)
    ctx.scope_record(rec.tag);
}

namespace {

// Where the structure cannot be followed: the reader's message.
struct Stop {
  const char *message;
  uint64_t at;
};

// A record cut off by the end of the file: the reader reads zeros for what
// is missing, but no text can stand for it, because whatever zas writes after
// the record would be read into it.
const char kEndsInside[] = "the file ends inside this record";

// A read-only FILE over bytes, for ByteStream.
class MemStream {
public:
  explicit MemStream(const std::vector<uint8_t> &bytes) {
    file_ = bytes.empty() ? std::tmpfile()
                          : fmemopen(const_cast<uint8_t *>(bytes.data()), bytes.size(), "rb");
  }
  ~MemStream() {
    if (file_)
      std::fclose(file_);
  }
  MemStream(const MemStream &) = delete;
  MemStream &operator=(const MemStream &) = delete;
  FILE *get() const { return file_; }

private:
  FILE *file_ = nullptr;
};

class Decoder {
public:
  Decoder(const std::vector<uint8_t> &bytes, Context &ctx)
      : bytes_(bytes), mem_(bytes), in_(mem_.get()), ctx_(ctx) {}

  Listing run();
  // One record of a role, its tag not read yet (raw records of the text).
  Record one(Role role, uint32_t handlers);
  uint64_t tell() const { return in_.tell(); }
  bool eof() const { return in_.eof(); }

private:
  // ---- records
  Record start(Role role, uint8_t tag);
  void finish(Record &rec) {
    if (in_.eof())
      throw Stop{kEndsInside, rec.offset};
    rec.size = static_cast<uint32_t>(in_.tell() - rec.offset);
  }
  Field read(Enc e);
  void read_form(const Form &form, Record &rec);
  Record header();
  Record node(bool tag_read, uint8_t tag);
  void tree(std::vector<Record> &out, bool tag_read, uint8_t tag);
  void tree_nodes(std::vector<Record> &out, bool tag_read, uint8_t tag);
  void symbol(std::vector<Record> &out, Role role, uint8_t tag);
  Record attr(Role role, uint8_t tag);
  void initializer(std::vector<Record> &out, Role role, uint8_t tag);
  Record type_record(Role role, uint8_t tag);
  // The payload of a record that its length frames (the tag is read): its
  // bytes, and the file offset after it.
  struct Payload {
    std::vector<uint8_t> bytes;
    uint64_t end;
  };
  Payload framed(Record &r, Role role, uint8_t tag);
  void eht(std::vector<Record> &out, uint8_t tag);
  Record handlers(uint8_t tag, uint32_t count);
  void stream_item(std::vector<Record> &out, uint8_t tag);

  // ---- regions
  template <class Item> void region(Region &reg, uint64_t offset, Item item);
  void main_stream(Region &reg, uint64_t start);
  bool writer_layout(const Listing &l) const;

  const std::vector<uint8_t> &bytes_;
  MemStream mem_;
  ByteStream in_;
  ByteStream *cur_ = &in_;   // where fields are read from (a payload for type records)
  Context &ctx_;
};

Record Decoder::start(Role role, uint8_t tag) {
  Record r;
  r.role = role;
  r.tag = tag;
  r.offset = in_.tell() - 1;
  in_.uleb();   // the payload length: records are read by their fields
  return r;
}

Field Decoder::read(Enc e) {
  ByteStream &in = *cur_;
  Field f;
  f.enc = e;
  switch (e) {
  case Enc::Byte: f.num = in.byte(); break;
  case Enc::Short: f.num = in.ushort(); break;
  case Enc::Word: f.num = in.word(); break;
  case Enc::Uleb: f.num = in.uleb(); break;
  case Enc::Sleb: f.num = static_cast<uint32_t>(in.sleb()); break;
  case Enc::Text: f.str = in.text(); break;
  case Enc::Counted: f.str = in.counted_text(); break;
  case Enc::Pos: f.pos = in.pos(); break;
  case Enc::Texts:
    f.num = in.uleb();
    for (uint32_t i = 0; i < f.num; ++i) {
      const char *t = in.text();
      if (in.eof() && !*t)
        break;
      f.texts.emplace_back(t);
    }
    break;
  case Enc::Shorts:
    f.num = in.byte();
    for (uint32_t i = 0; i < f.num; ++i)
      f.shorts.push_back(in.ushort());
    break;
  case Enc::Flags9:
    for (int i = 0; i < 9; ++i)
      f.str += static_cast<char>(in.byte());
    break;
  case Enc::Blob: break;   // filled by the caller, which knows the end
  }
  return f;
}

void Decoder::read_form(const Form &form, Record &rec) {
  for (const FieldForm &ff : form.fields) {
    if (!field_present(ff, ctx_.version(), rec.fields))
      continue;
    bool is_signed = false;
    if (ff.ft == FT::EnumVal) {
      // Enumerator values follow the signedness of the enumeration's type.
      const TypeInfo *owner = ctx_.type(rec.num(0));
      is_signed = owner && ctx_.is_signed(owner->base);
    }
    rec.fields.push_back(read(field_enc(ff.ft, is_signed)));
  }
}

Record Decoder::header() {
  Record r;
  r.role = Role::Header;
  r.tag = in_.tag();
  r.offset = 0;
  in_.uleb();
  r.fields.push_back(read(Enc::Text));
  r.fields.push_back(read(Enc::Short));
  r.fields.push_back(read(Enc::Short));
  for (int i = 0; i < 5; ++i)
    r.fields.push_back(read(Enc::Word));
  r.fields.push_back(read(Enc::Text));
  if (static_cast<int16_t>(r.fields[1].num) >= -83)
    r.fields.push_back(read(Enc::Word));
  finish(r);
  return r;
}

// One node record; its operands are read by tree().
Record Decoder::node(bool tag_read, uint8_t tag) {
  if (!tag_read) {
    const uint64_t at = in_.tell();
    tag = in_.tag();
    if (tag != TAG_NODE)
      throw Stop{kInvalidRecord, at};
  }
  Record r = start(Role::Node, tag);
  r.fields.push_back(read(Enc::Byte));
  uint32_t op = r.fields[0].num;
  if (op > kMaxFileOp)
    throw Stop{kInvalidRecord, r.offset};
  r.fields.push_back(read(Enc::Uleb));
  bool is_signed = ctx_.is_signed(r.fields[1].num);
  for (const FieldForm &ff : node_fields(op))
    r.fields.push_back(read(field_enc(ff.ft, is_signed)));
  finish(r);
  return r;
}

// A tree in prefix order, without recursion, as deep as the reader allows.
// A tree that breaks off is dropped whole: what precedes it stays.
void Decoder::tree(std::vector<Record> &out, bool tag_read, uint8_t tag) {
  const size_t start = out.size();
  try {
    tree_nodes(out, tag_read, tag);
  } catch (const Stop &) {
    out.resize(start);
    throw;
  }
}

void Decoder::tree_nodes(std::vector<Record> &out, bool tag_read, uint8_t tag) {
  std::vector<unsigned> pending;   // operands still to read, per open node
  for (;;) {
    if (pending.size() >= kMaxTreeDepth)
      throw Stop{kInvalidRecord, in_.tell()};
    Record n = node(tag_read, tag);
    tag_read = false;
    unsigned operands = node_operands(n.fields[0].num);
    out.push_back(std::move(n));
    if (!pending.empty())
      --pending.back();
    if (operands > 0) {
      pending.push_back(operands);
      continue;
    }
    while (!pending.empty() && pending.back() == 0)
      pending.pop_back();
    if (pending.empty())
      return;
  }
}

Record Decoder::attr(Role role, uint8_t tag) {
  Record r = start(role, tag);
  read_form(*record_form(Role::Attr, TAG_ATTRIBUTES), r);
  finish(r);
  return r;
}

// A symbol record and the attribute lists it announces.
void Decoder::symbol(std::vector<Record> &out, Role role, uint8_t tag) {
  Record r = start(role, tag);
  read_form(*record_form(Role::Stream, TAG_SYMBOL), r);
  finish(r);
  uint32_t lists = r.fields[8].num;
  apply_record(ctx_, r);
  out.push_back(std::move(r));
  for (uint32_t i = 0; i < lists; ++i) {
    const uint64_t at = in_.tell();
    uint8_t t = in_.tag();
    if (in_.eof())
      break;
    if (t != TAG_ATTRIBUTES)
      throw Stop{kInvalidRecord, at};
    out.push_back(attr(Role::Attr, t));
  }
}

// An initializer record, then trees up to one whose root is ENDINIT.
void Decoder::initializer(std::vector<Record> &out, Role role, uint8_t tag) {
  Record r = start(role, tag);
  r.fields.push_back(read(Enc::Uleb));
  finish(r);
  out.push_back(std::move(r));
  for (;;) {
    size_t root = out.size();
    tree(out, false, 0);
    if (out[root].fields[0].num == ENDINIT)
      return;
  }
}

// A type record: decoded by its kind within its payload, which its length
// frames.  The reader takes the payload whole; fields that would run past it
// make an invalid record (here they read as zeros, and the record keeps its
// bytes), bytes left after them are not read.
Decoder::Payload Decoder::framed(Record &r, Role role, uint8_t tag) {
  r.role = role;
  r.tag = tag;
  r.offset = in_.tell() - 1;
  uint32_t length = in_.uleb();
  const uint64_t payload = in_.tell();
  const uint64_t end = payload + length;
  if (in_.eof() || end > bytes_.size())
    throw Stop{kEndsInside, r.offset};
  return {std::vector<uint8_t>(bytes_.begin() + static_cast<long>(payload),
                               bytes_.begin() + static_cast<long>(end)),
          end};
}

Record Decoder::type_record(Role role, uint8_t tag) {
  Record r;
  auto [body, end] = framed(r, role, tag);
  MemStream mem(body);
  ByteStream sub(mem.get());
  cur_ = &sub;
  r.fields.push_back(read(Enc::Uleb));
  r.fields.push_back(read(Enc::Byte));
  auto kind = static_cast<uint8_t>(r.fields[1].num);
  if (const Form *form = type_form(kind, 0))
    read_form(*form, r);
  cur_ = &in_;
  in_.seek(end);
  finish(r);
  return r;
}

Record Decoder::handlers(uint8_t tag, uint32_t count) {
  Record r = start(Role::EhtHandlers, tag);
  for (uint32_t h = 0; h < count; ++h) {
    Field name = read(Enc::Text);
    if (in_.eof() && name.str.empty())
      break;
    r.fields.push_back(std::move(name));
    r.fields.push_back(read(Enc::Uleb));
    r.fields.push_back(read(Enc::Byte));
  }
  finish(r);
  return r;
}

// An exception-handling table: its count, then the entries with their
// cleanup statements or handler lists.
void Decoder::eht(std::vector<Record> &out, uint8_t tag) {
  Record table = start(Role::Stream, tag);
  read_form(*record_form(Role::Stream, TAG_EHT), table);
  finish(table);
  uint32_t count = table.fields[0].num;
  out.push_back(std::move(table));
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = in_.tell();
    uint8_t t = in_.tag();
    if (t != TAG_EHT_ENTRY)
      throw Stop{kInvalidEhtRecord, at};
    Record e = start(Role::EhtEntry, t);
    read_form(*record_form(Role::EhtEntry, TAG_EHT_ENTRY), e);
    finish(e);
    uint32_t kind = e.fields[1].num;
    uint32_t handler_count = e.fields[3].num;
    out.push_back(std::move(e));
    if (kind == 1) {
      at = in_.tell();
      t = in_.tag();
      if (t != TAG_STATEMENT)
        throw Stop{kInvalidEhtRecord, at};
      Record c = start(Role::EhtCleanup, t);
      c.fields.push_back(read(Enc::Pos));
      finish(c);
      out.push_back(std::move(c));
      tree(out, false, 0);
    } else if (kind == 2) {
      at = in_.tell();
      t = in_.tag();
      if (t != TAG_EHT_HANDLERS)
        throw Stop{kInvalidEhtRecord, at};
      out.push_back(handlers(t, handler_count));
    }
  }
}

// One record of the main stream and the records that belong to it.
void Decoder::stream_item(std::vector<Record> &out, uint8_t tag) {
  switch (tag) {
  case TAG_STATEMENT: {
    Record r = start(Role::Stream, tag);
    r.fields.push_back(read(Enc::Pos));
    finish(r);
    out.push_back(std::move(r));
    tree(out, false, 0);
    return;
  }
  case TAG_NODE:
    tree(out, true, tag);
    return;
  case TAG_SYMBOL:
    symbol(out, Role::Stream, tag);
    return;
  case TAG_INITIALIZER:
    initializer(out, Role::Stream, tag);
    return;
  case TAG_TYPE: {
    Record r = type_record(Role::Stream, tag);
    apply_record(ctx_, r);
    out.push_back(std::move(r));
    return;
  }
  case TAG_EHT:
    eht(out, tag);
    return;
  case TAG_SKIPPED: {
    // Skipped by its length; its position and the bytes after it are shown,
    // both read within the payload.
    Record r;
    auto [body, end] = framed(r, Role::Stream, tag);
    MemStream mem(body);
    ByteStream sub(mem.get());
    cur_ = &sub;
    r.fields.push_back(read(Enc::Pos));
    cur_ = &in_;
    Field blob;
    blob.enc = Enc::Blob;
    if (!sub.eof() && sub.tell() < body.size())
      blob.str.assign(body.begin() + static_cast<long>(sub.tell()), body.end());
    r.fields.push_back(std::move(blob));
    in_.seek(end);
    finish(r);
    out.push_back(std::move(r));
    return;
  }
  default:
    break;
  }
  if (const Form *form = record_form(Role::Stream, tag)) {
    Record r = start(Role::Stream, tag);
    read_form(*form, r);
    finish(r);
    apply_record(ctx_, r);
    out.push_back(std::move(r));
    return;
  }
  // An unknown tag: the reader reports it and reads on right after the
  // length field.
  Record r = start(Role::Stream, tag);
  finish(r);
  r.raw.assign(bytes_.begin() + static_cast<long>(r.offset),
               bytes_.begin() + static_cast<long>(r.offset + r.size));
  out.push_back(std::move(r));
}

// Reads a section's records (any tag) up to its closing 255.  Each call of
// `item` reads one record with what belongs to it; a record that cannot be
// followed ends the section there.
template <class Item>
void Decoder::region(Region &reg, uint64_t offset, Item item) {
  reg.present = true;
  reg.offset = offset;
  in_.seek(offset);
  for (;;) {
    uint8_t tag = in_.tag();
    if (tag == kEndTag) {
      reg.terminated = !in_.eof();
      break;
    }
    std::vector<Record> recs;
    bool stop = false;
    try {
      item(recs, tag);
    } catch (const Stop &s) {
      // The complete records before the break are kept: a symbol without
      // the attribute list that went wrong, a statement without its tree.
      reg.problem = s.message;
      reg.problem_at = s.at;
      reg.terminated = false;
      stop = true;
    }
    for (Record &r : recs)
      reg.records.push_back(std::move(r));
    if (stop)
      break;
  }
  reg.end = in_.tell();
}

bool Decoder::writer_layout(const Listing &l) const {
  if (!l.stream.terminated || !l.stream.problem.empty())
    return false;
  uint64_t at = l.stream.end;
  for (Section s : kWriterOrder) {
    const Region &r = l.sections[s];
    if (!r.present)
      continue;
    if (r.offset != at || !r.terminated || !r.problem.empty())
      return false;
    at = r.end;
  }
  return at == bytes_.size();
}

Listing Decoder::run() {
  Listing l;
  l.file_size = bytes_.size();
  if (bytes_.empty() || bytes_[0] != TAG_HEADER) {
    l.header_problem = "the file does not begin with a header record";
    return l;
  }
  l.have_header = true;
  try {
    l.header = header();
  } catch (const Stop &s) {
    l.have_header = false;
    l.header_problem = "the file ends inside the header record";
    return l;
  }
  const Record &h = l.header;
  int version = static_cast<int16_t>(h.fields[1].num);
  int check = static_cast<int16_t>(h.fields[2].num);
  if (h.fields[0].str != kIcodeMagic)
    l.header_problem = "the header's magic text is not \"!<icode>\\n\"";
  else if (check != kCheckValue)
    l.header_problem = "the header's check value is not 1000";
  else if (version < kOldestVersion || version > kNewestVersion)
    l.header_problem = "the format version is outside -86 to -72";
  if (!l.header_problem.empty())
    return l;
  ctx_.set_version(version);
  const uint64_t stream_start = in_.tell();

  auto offset = [&](Section s) { return h.fields[kHeaderFirstOffset + kHeaderOffsetSlot[s]].num; };
  auto simple = [&](Role role) {
    return [this, role](std::vector<Record> &out, uint8_t tag) {
      Record r = start(role, tag);
      const Form *form = record_form(role, role == Role::Option ? TAG_OPTION_SET : TAG_FILE_NAME);
      read_form(*form, r);
      finish(r);
      apply_record(ctx_, r);
      out.push_back(std::move(r));
    };
  };
  if (offset(SEC_OPTIONS))
    region(l.sections[SEC_OPTIONS], offset(SEC_OPTIONS), simple(Role::Option));
  if (offset(SEC_FILES))
    region(l.sections[SEC_FILES], offset(SEC_FILES), simple(Role::FileName));
  if (offset(SEC_TYPES))
    region(l.sections[SEC_TYPES], offset(SEC_TYPES), [this](std::vector<Record> &out, uint8_t tag) {
      Record r = type_record(Role::Type, tag);
      apply_record(ctx_, r);
      out.push_back(std::move(r));
    });
  if (offset(SEC_GLOBALS))
    region(l.sections[SEC_GLOBALS], offset(SEC_GLOBALS),
           [this](std::vector<Record> &out, uint8_t tag) { symbol(out, Role::Symbol, tag); });
  if (offset(SEC_INITS))
    region(l.sections[SEC_INITS], offset(SEC_INITS),
           [this](std::vector<Record> &out, uint8_t tag) { initializer(out, Role::Init, tag); });
  region(l.stream, stream_start,
         [this](std::vector<Record> &out, uint8_t tag) { stream_item(out, tag); });
  l.writer_layout = writer_layout(l);
  return l;
}

Record Decoder::one(Role role, uint32_t count) {
  uint8_t tag = in_.tag();
  std::vector<Record> out;
  switch (role) {
  case Role::Header: {
    in_.seek(0);
    return header();
  }
  case Role::Node: return node(true, tag);
  case Role::Type: return type_record(role, tag);
  case Role::EhtHandlers: return handlers(tag, count);
  case Role::EhtCleanup: {
    Record c = start(role, tag);
    c.fields.push_back(read(Enc::Pos));
    finish(c);
    return c;
  }
  case Role::Symbol:
  case Role::Option:
  case Role::FileName:
  case Role::Init:
  case Role::Attr:
  case Role::EhtEntry: {
    const Form *form = record_form(role, role == Role::Symbol   ? TAG_SYMBOL
                                         : role == Role::Option ? TAG_OPTION_SET
                                         : role == Role::FileName ? TAG_FILE_NAME
                                         : role == Role::Init   ? TAG_INITIALIZER
                                         : role == Role::Attr   ? TAG_ATTRIBUTES
                                                                : TAG_EHT_ENTRY);
    Record r = start(role, tag);
    read_form(*form, r);
    finish(r);
    return r;
  }
  case Role::Stream:
    break;
  }
  // A main-stream record alone: no tree, attribute list or entry after it.
  if (tag == TAG_STATEMENT) {
    Record r = start(role, tag);
    r.fields.push_back(read(Enc::Pos));
    finish(r);
    return r;
  }
  if (tag == TAG_NODE)
    return node(true, tag);
  if (tag == TAG_SYMBOL || tag == TAG_INITIALIZER || tag == TAG_EHT) {
    Record r = start(role, tag);
    read_form(*record_form(Role::Stream, tag), r);
    finish(r);
    return r;
  }
  stream_item(out, tag);
  return out.empty() ? Record{} : out.front();
}

// Marks each record whose bytes its fields do not give back.
class RawMarker {
public:
  RawMarker(const std::vector<uint8_t> &bytes, int version) : bytes_(bytes), version_(version) {}

  void mark(Record &r) {
    if (!r.raw.empty() || r.offset + r.size > bytes_.size())
      return;
    uint64_t from = sink_.tell();
    sink_.record(r);
    std::vector<uint8_t> again = sink_.slice(from, sink_.tell());
    bool same = again.size() == r.size &&
                std::memcmp(again.data(), bytes_.data() + r.offset, r.size) == 0;
    if (!same || !spellable(r))
      r.raw.assign(bytes_.begin() + static_cast<long>(r.offset),
                   bytes_.begin() + static_cast<long>(r.offset + r.size));
  }

private:
  // Values the text has no spelling for.
  bool spellable(const Record &r) const {
    // Section records may carry any tag; the text spells the writer's.
    static const std::pair<Role, uint8_t> section_tags[] = {
        {Role::Option, TAG_OPTION_SET}, {Role::FileName, TAG_FILE_NAME}, {Role::Type, TAG_TYPE},
        {Role::Symbol, TAG_SYMBOL},     {Role::Init, TAG_INITIALIZER}};
    for (const auto &[role, tag] : section_tags)
      if (r.role == role && r.tag != tag)
        return false;
    for (const Field &f : r.fields) {
      if (f.enc == Enc::Texts && f.texts.size() != f.num)
        return false;
      if (f.enc == Enc::Flags9)
        for (char c : f.str)
          if (c != 0 && c != 1)
            return false;
    }
    if ((r.role == Role::Type || (r.role == Role::Stream && r.tag == TAG_TYPE)) &&
        r.fields.size() >= 2) {
      auto kind = static_cast<uint8_t>(r.fields[1].num);
      if (!type_form(kind, 0))
        return false;
      if (kind == 24 || kind == 25) {
        if (r.fields.size() < 3 || r.fields[2].num > 2)
          return false;
        // The group flag of a short structure record is spelled as a group.
        const Form &form = *type_form(kind, 0);
        std::vector<int> slots = field_slots(form, version_, r.fields, 2);
        for (size_t i = 0; i < form.fields.size(); ++i)
          if (form.fields[i].ft == FT::Group7 && slots[i] >= 0 &&
              static_cast<size_t>(slots[i]) < r.fields.size() && r.fields[slots[i]].num > 1)
            return false;
      }
    }
    return true;
  }

  const std::vector<uint8_t> &bytes_;
  int version_;
  ByteSink sink_;
};

void mark_raw(Listing &l, const std::vector<uint8_t> &bytes) {
  RawMarker m(bytes, l.version());
  if (l.have_header)
    m.mark(l.header);
  for (Region &reg : l.sections)
    for (Record &r : reg.records)
      m.mark(r);
  for (Record &r : l.stream.records)
    m.mark(r);
}

} // namespace

Listing decode_image(const std::vector<uint8_t> &bytes) {
  build_interchange_table();
  Context ctx;
  Decoder d(bytes, ctx);
  Listing l = d.run();
  mark_raw(l, bytes);
  return l;
}

std::optional<Record> decode_raw_record(const std::vector<uint8_t> &bytes, Role role,
                                        const Context &ctx, uint32_t handlers,
                                        std::string &why) {
  build_interchange_table();
  if (bytes.empty()) {
    why = "a raw record needs its bytes";
    return std::nullopt;
  }
  Context scratch = ctx;
  Decoder d(bytes, scratch);
  std::vector<Record> out;
  Record r;
  try {
    r = d.one(role, handlers);
  } catch (const Stop &s) {
    why = s.message == kEndsInside ? "the bytes end inside the record" : s.message;
    while (!why.empty() && (why.front() == '\n'))
      why.erase(why.begin());
    while (!why.empty() && why.back() == '\n')
      why.pop_back();
    return std::nullopt;
  }
  if (d.eof()) {
    why = "the bytes end inside the record";
    return std::nullopt;
  }
  if (d.tell() != bytes.size()) {
    why = "the bytes are " + std::to_string(bytes.size()) + " long, the record " +
          std::to_string(d.tell());
    return std::nullopt;
  }
  r.raw = bytes;
  return r;
}

} // namespace zor::text
