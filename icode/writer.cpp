// icode/writer.cpp - the I-code writer: primitives, records, sections, close.
//
// The header goes out when the writer opens and is rewritten in place at
// close, once the section offsets are known; its length does not change
// because the producer text is the same both times.  The type section is in
// writer_types.cpp.
#include "icode/writer.h"

#include <cstdlib>
#include <cstring>

#include "icode/interchange_ops.h"
#include "icode/record_tags.h"
#include "icode/writer_impl.h"
#include "ir/opcodes.h"
#include "ir/type.h"

namespace zor {

const char kShortRange[] = ">> Value exceeds size of short\n";
const char kBufferRealloc[] = ">> ICODE Buffer size exceeded and realloc failed\n";
const char kNoFileName[] = "NO_FILE";

namespace {

constexpr uint32_t kNoSymbolScope = 0xFFFFFFFFu;
// Storage classes whose offset the symbol record carries.
bool class_keeps_offset(uint8_t sc) { return sc == 4 || sc == 9 || sc == 22; }

} // namespace

// ---------------------------------------------------------------- state

IcodeWriter::Impl::Impl(FILE *f, TYPE_PKG &t, std::string producer) : out(f), types(t) {
  header.version = kWriterVersion;
  header.check = icode_check_value;
  header.producer = std::move(producer);
  header.extra = 0;
}

IcodeWriter::Impl::~Impl() { std::free(buf); }

void IcodeWriter::Impl::require_main_stream() const {
  if (stage != MAIN)
    throw std::logic_error("I-code writer: main-stream record after the main stream ended");
}

// ----------------------------------------------------------- primitives

void IcodeWriter::Impl::grow(size_t more) {
  while (len + more > cap) {
    void *p = std::realloc(buf, cap + kWriterChunk);
    if (!p)
      throw IcodeFatal(kBufferRealloc);
    buf = static_cast<char *>(p);
    cap += kWriterChunk;
  }
}

void IcodeWriter::Impl::byte(uint8_t b) {
  if (len == cap)
    grow(1);
  buf[len++] = static_cast<char>(b);
}

void IcodeWriter::Impl::short_(long v) {
  if (v < -32768 || v > 65535)
    throw IcodeFatal(kShortRange);
  auto u = static_cast<uint16_t>(v);
  byte(static_cast<uint8_t>(u & 0xff));
  byte(static_cast<uint8_t>(u >> 8));
}

void IcodeWriter::Impl::word(uint32_t w) {
  for (int i = 0; i < 4; ++i)
    byte(static_cast<uint8_t>(w >> (8 * i)));
}

void IcodeWriter::Impl::uleb(uint32_t v) {
  do {
    uint8_t b = v & 0x7f;
    v >>= 7;
    byte(v ? (b | 0x80) : b);
  } while (v);
}

// Stops after the byte whose remaining value is 0 with bit 6 clear, or -1
// with bit 6 set, so that the reader's sign extension restores the value.
void IcodeWriter::Impl::sleb(int32_t v) {
  int64_t x = v;
  for (;;) {
    uint8_t b = x & 0x7f;
    x >>= 7;   // arithmetic shift
    bool done = (x == 0 && !(b & 0x40)) || (x == -1 && (b & 0x40));
    byte(done ? b : (b | 0x80));
    if (done)
      return;
  }
}

void IcodeWriter::Impl::text(const char *s) {
  if (!s)
    s = "";
  size_t n = std::strlen(s) + 1;
  grow(n);
  std::memcpy(buf + len, s, n);
  len += n;
}

void IcodeWriter::Impl::counted(const char *bytes, uint32_t length) {
  uleb(length);
  if (length == 0)
    return;
  grow(length);
  std::memcpy(buf + len, bytes, length);
  len += length;
}

void IcodeWriter::Impl::position(const SrcPos &p) {
  if (!p.file && p.line == 0 && p.column == 0) {
    uleb(0);
    return;
  }
  uleb(intern(p.file ? p.file : kNoFileName));
  uleb(p.line);
  uleb(p.column);
}

// Output identifiers count from 1 in the order the representatives are first
// used: referenced from the main stream, or written as a type that another
// type refers to.  They depend only on what is written, never on the
// package's own numbering, so that a file written, read and written again
// comes out the same.
uint32_t IcodeWriter::Impl::output_id(TYPE *rep) {
  if (rep->id == 0 || rep->pkg != &types)
    throw std::logic_error("I-code writer: reference to a type outside the package");
  if (out_ids.size() <= rep->id)
    out_ids.resize(rep->id + 1, 0);
  uint32_t &id = out_ids[rep->id];
  if (id == 0) {
    out_types.push_back(rep);
    id = static_cast<uint32_t>(out_types.size());
  }
  return id;
}

uint32_t IcodeWriter::Impl::mark_referenced(TYPE *t) {
  TYPE *rep = t->representative();
  if (type_section_done && !rep->written)
    throw std::logic_error("I-code writer: type referenced after the type section");
  if (writing_types && !rep->written)
    throw std::logic_error("I-code writer: type record before a type it refers to");
  rep->referenced = 1;
  return output_id(rep);
}

void IcodeWriter::Impl::type_ref(TYPE *t) { uleb(t ? mark_referenced(t) : 0); }

void IcodeWriter::Impl::sym_ref(const I_SYMTAB *sym) {
  if (!sym) {
    uleb(kNoSymbolScope);
    uleb(0);
    return;
  }
  uleb(sym->scope_level());
  uleb(sym->index());
}

uint32_t IcodeWriter::Impl::intern(const char *name) {
  for (size_t i = 0; i < files.size(); ++i)
    if (files[i] == name)
      return static_cast<uint32_t>(i + 1);
  if (file_section_done)
    throw std::logic_error("I-code writer: file name interned after the file-name section");
  if (files.size() == files.capacity())
    files.reserve(files.capacity() + 20);
  files.emplace_back(name);
  return static_cast<uint32_t>(files.size());
}

// ------------------------------------------------------------- framing

void IcodeWriter::Impl::raw(const void *data, size_t n) {
  if (n == 0)
    return;
  if (std::fwrite(data, 1, n, out) != n)
    io_error = true;
  pos += n;
}

void IcodeWriter::Impl::end_tag() {
  uint8_t t = TAG_END;
  raw(&t, 1);
}

// The payload length goes into the buffer after the payload, so that the
// record leaves in three writes: tag, length, payload.
void IcodeWriter::Impl::end_record(uint8_t tag) {
  const size_t payload = len;
  uleb(static_cast<uint32_t>(payload));
  raw(&tag, 1);
  raw(buf + payload, len - payload);
  raw(buf, payload);
  len = 0;
}

// ------------------------------------------------------------- records

void IcodeWriter::Impl::header_record() {
  text(kIcodeMagic);
  short_(header.version);
  short_(header.check);
  word(header.options_offset);
  word(header.init_offset);
  word(header.types_offset);
  word(header.files_offset);
  word(header.globals_offset);
  text(header.producer.c_str());
  word(header.extra);   // the version written (-72) carries the extra word
  end_record(TAG_HEADER);
}

void IcodeWriter::Impl::attribute_lists(const I_SYMTAB &sym) {
  uint32_t n = 0;
  for (const PragmaRecord *r = sym.attribute_lists(); r && n < 255; r = r->next, ++n) {
    uleb(r->kind);
    uleb(static_cast<uint32_t>(r->args.size()));
    for (const std::string &a : r->args)
      text(a.c_str());
    end_record(TAG_ATTRIBUTES);
  }
}

void IcodeWriter::Impl::symbol_record(const I_SYMTAB &sym, uint8_t storage_class) {
  uint32_t lists = sym.attribute_list_count();
  if (lists > 255)
    lists = 255;   // the count is a byte; attribute_lists() stops there too
  text(sym.name());
  uleb(sym.size());
  uleb(class_keeps_offset(sym.storage_class()) ? sym.offset() : 0);
  byte(storage_class);
  short_(sym.flags());
  type_ref(sym.type());
  type_ref(sym.second_type());
  uleb(sym.alignment());
  byte(static_cast<uint8_t>(lists));
  uleb(sym.initializer_position());
  uleb(sym.option_set());
  position(sym.position());
  end_record(TAG_SYMBOL);
  attribute_lists(sym);
}

// A tree in prefix order, without recursion: the node's record, then its
// first operand's tree, then its second's.
void IcodeWriter::Impl::tree(BASE_NODE *root) {
  std::vector<BASE_NODE *> todo{root};
  while (!todo.empty()) {
    BASE_NODE *n = todo.back();
    todo.pop_back();
    if (!n)
      throw IcodeFatal(kInvalidRecord);
    const uint32_t op = n->opcode();
    const InterchangeOp *info = interchange_op(op);
    if (!info || !info->name)
      throw IcodeFatal(kInvalidRecord);
    byte(static_cast<uint8_t>(op));
    type_ref(n->node_type());
    node_fields(n);
    end_record(TAG_NODE);
    const uint32_t operands = op != SKIP && (info->arity == 1 || info->arity == 2) ? info->arity : 0;
    for (uint32_t i = operands; i-- > 0;)
      todo.push_back(n->operand(static_cast<int>(i)));
  }
}

void IcodeWriter::Impl::node_fields(BASE_NODE *n) {
  switch (n->opcode()) {
  case LABEL:
    uleb(n->label_number());
    break;
  case NAME:
    sym_ref(n->name_symbol());
    break;
  case SCON:
    counted(n->scon_bytes(), n->scon_length());
    break;
  case ICON: {
    TYPE *t = n->node_type();
    if (t && t->is_signed())
      sleb(n->icon_signed());
    else
      uleb(n->icon_unsigned());
    break;
  }
  case FCON:
    text(n->fcon_text());
    break;
  case LCON:
    text(n->lcon_text().c_str());
    break;
  case FIELD: {
    const MEMBER *m = n->field_member();
    if (!m)
      throw IcodeFatal(kInvalidRecord);
    byte(static_cast<uint8_t>(n->field_flag()));
    uleb(m->id);
    type_ref(n->field_type());
    break;
  }
  case VREG:
    sleb(n->vreg_number());
    break;
  case SKIP:
    uleb(n->skip_number());
    break;
  case SWITCH:
    uleb(n->switch_number());
    break;
  case CALL:
    uleb(n->call_first());
    uleb(n->call_word());
    break;
  case UCALL:
    uleb(n->call_word());
    break;
  case EPVAL:
    uleb(static_cast<uint32_t>(n->epval_index()));
    break;
  case DDNODE:
    uleb(n->ddnode_index());
    uleb(n->ddnode_second());
    byte(n->ddnode_flag());
    break;
  case ICALL: case UICALL: case MCALL: case UMCALL:
    text(n->callee_name());
    break;
  default:
    break;   // the operator carries no fields
  }
}

// --------------------------------------------------------------- writer

IcodeWriter::IcodeWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IcodeWriter::~IcodeWriter() = default;

std::unique_ptr<IcodeWriter> IcodeWriter::open(FILE *out, TYPE_PKG &types,
                                               std::string producer) {
  std::setvbuf(out, nullptr, _IOFBF, kWriterChunk);
  build_interchange_table();
  // Marks left by an earlier writer on the same package do not count.
  for (uint32_t id = 1; id <= types.type_count(); ++id)
    if (TYPE *t = types.type_by_id(id))
      t->written = t->referenced = 0;
  auto impl = std::make_unique<Impl>(out, types, std::move(producer));
  impl->start = std::ftell(out);
  if (impl->start < 0)
    impl->start = 0;
  impl->grow(kWriterChunk);
  impl->header_record();
  return std::unique_ptr<IcodeWriter>(new IcodeWriter(std::move(impl)));
}

void IcodeWriter::put_byte(uint8_t b) { impl_->byte(b); }
void IcodeWriter::put_short(long v) { impl_->short_(v); }
void IcodeWriter::put_word(uint32_t w) { impl_->word(w); }
void IcodeWriter::put_uleb(uint32_t v) { impl_->uleb(v); }
void IcodeWriter::put_sleb(int32_t v) { impl_->sleb(v); }
void IcodeWriter::put_text(const char *s) { impl_->text(s); }
void IcodeWriter::put_counted(const char *bytes, uint32_t length) { impl_->counted(bytes, length); }
void IcodeWriter::put_pos(const SrcPos &pos) { impl_->position(pos); }
void IcodeWriter::put_type_ref(TYPE *type) { impl_->type_ref(type); }
void IcodeWriter::put_sym_ref(const I_SYMTAB *sym) { impl_->sym_ref(sym); }
void IcodeWriter::end_record(uint8_t tag) { impl_->end_record(tag); }

void IcodeWriter::function_begin(const SrcPos &pos, uint32_t global_index) {
  impl_->require_main_stream();
  impl_->position(pos);
  impl_->uleb(global_index);
  impl_->end_record(TAG_FUNC_BEGIN);
}

void IcodeWriter::position_record(uint8_t tag, const SrcPos &pos) {
  impl_->require_main_stream();
  impl_->position(pos);
  impl_->end_record(tag);
}

void IcodeWriter::statement(const SrcPos &pos, BASE_NODE *root) {
  impl_->require_main_stream();
  impl_->position(pos);
  impl_->end_record(TAG_STATEMENT);
  impl_->tree(root);
}

void IcodeWriter::tree(BASE_NODE *root) { impl_->tree(root); }

void IcodeWriter::label(uint32_t number) {
  impl_->require_main_stream();
  impl_->uleb(number);
  impl_->end_record(TAG_LABEL);
}

void IcodeWriter::inline_asm(const char *text, const SrcPos &pos) {
  impl_->require_main_stream();
  impl_->text(text);
  impl_->position(pos);
  impl_->end_record(TAG_ASM);
}

void IcodeWriter::comment(const std::string &text) { inline_asm(text.c_str(), SrcPos()); }

void IcodeWriter::pragma(const char *text) {
  impl_->require_main_stream();
  impl_->text(text);
  impl_->end_record(TAG_PRAGMA);
}

void IcodeWriter::pragma_record(const PragmaRecord &rec) {
  impl_->require_main_stream();
  impl_->uleb(rec.kind);
  impl_->uleb(static_cast<uint32_t>(rec.args.size()));
  for (const std::string &a : rec.args)
    impl_->text(a.c_str());
  impl_->end_record(TAG_ATTRIBUTES);
}

void IcodeWriter::byte_record(uint8_t value) {
  impl_->require_main_stream();
  impl_->byte(value);
  impl_->end_record(TAG_BYTE_RECORD);
}

void IcodeWriter::dependence_edge(uint32_t a, uint32_t b, uint32_t c) {
  impl_->require_main_stream();
  impl_->uleb(a);
  impl_->uleb(b);
  impl_->uleb(c);
  impl_->end_record(TAG_DDEDGE);
}

void IcodeWriter::record_108_form0(uint32_t a, uint32_t b, int32_t c, TYPE *type, int32_t d,
                                   uint32_t e) {
  impl_->require_main_stream();
  impl_->uleb(a);
  impl_->byte(0);
  impl_->uleb(b);
  impl_->sleb(c);
  impl_->type_ref(type);
  impl_->sleb(d);
  impl_->uleb(e);
  impl_->end_record(TAG_RECORD_108);
}

void IcodeWriter::record_108_form1(uint32_t a, uint32_t b, uint32_t c, TYPE *type, int32_t d,
                                   uint32_t e) {
  impl_->require_main_stream();
  impl_->uleb(a);
  impl_->byte(1);
  impl_->uleb(b);
  impl_->uleb(c);
  impl_->type_ref(type);
  impl_->sleb(d);
  impl_->uleb(e);
  impl_->end_record(TAG_RECORD_108);
}

void IcodeWriter::record_108_form2(uint32_t a, uint32_t b) {
  impl_->require_main_stream();
  impl_->uleb(a);
  impl_->byte(2);
  impl_->uleb(b);
  impl_->end_record(TAG_RECORD_108);
}

// A catch entry's count is the number of handlers that follow it.
void IcodeWriter::exception_table(const std::vector<EhtEntry> &entries) {
  Impl &w = *impl_;
  w.require_main_stream();
  w.uleb(static_cast<uint32_t>(entries.size()));
  w.end_record(TAG_EHT);
  for (const EhtEntry &e : entries) {
    w.uleb(e.id);
    w.uleb(e.kind);
    w.uleb(e.next);
    w.uleb(e.kind == EHT_CATCH ? static_cast<uint32_t>(e.handlers.size()) : e.count);
    w.end_record(TAG_EHT_ENTRY);
    if (e.kind == EHT_CLEANUP) {
      w.position(e.cleanup_pos);
      w.end_record(TAG_STATEMENT);
      w.tree(e.cleanup);
    } else if (e.kind == EHT_CATCH) {
      for (const EhtHandler &h : e.handlers) {
        w.text(h.type_name.c_str());
        w.uleb(h.label);
        w.byte(h.flag ? 1 : 0);
      }
      w.end_record(TAG_EHT_HANDLERS);
    }
  }
}

void IcodeWriter::symbol(const I_SYMTAB &sym, uint8_t storage_class) {
  impl_->require_main_stream();
  impl_->symbol_record(sym, storage_class);
}

void IcodeWriter::initializer(I_SYMTAB &sym, const std::vector<BASE_NODE *> &trees) {
  Impl &w = *impl_;
  if (w.stage == Impl::MAIN) {
    w.end_tag();
    w.header.init_offset = static_cast<uint32_t>(w.pos);
    w.stage = Impl::INITIALIZERS;
  } else if (w.stage != Impl::INITIALIZERS) {
    throw std::logic_error("I-code writer: initializer after close");
  }
  sym.set_initializer_position(static_cast<uint32_t>(w.pos));
  w.uleb(sym.index());
  w.end_record(TAG_INITIALIZER);
  for (BASE_NODE *t : trees)
    w.tree(t);
}

void IcodeWriter::clear_locals() { impl_->locals.clear(); }

void IcodeWriter::enter_local(I_SYMTAB &sym, uint32_t level) {
  sym.set_scope_level(level);
  sym.set_index(static_cast<uint32_t>(impl_->locals.size()));
  impl_->locals.push_back(&sym);
}

// The global's record is written at close, after the type and file-name
// sections: what it refers to is taken into those tables now.
void IcodeWriter::add_global(I_SYMTAB &sym) {
  Impl &w = *impl_;
  if (w.stage >= Impl::SECTIONS)
    throw std::logic_error("I-code writer: global added after close");
  w.globals.push_back(&sym);
  if (TYPE *t = sym.type())
    w.mark_referenced(t);
  if (TYPE *t = sym.second_type())
    w.mark_referenced(t);
  SrcPos p = sym.position();
  if (p.file || p.line || p.column)
    w.intern(p.file ? p.file : kNoFileName);
}

void IcodeWriter::add_option_set(uint32_t number, std::vector<std::string> texts) {
  impl_->option_sets.push_back({number, std::move(texts)});
}

uint32_t IcodeWriter::intern_file_name(const char *name) { return impl_->intern(name); }

// ---------------------------------------------------------------- close

int IcodeWriter::close(bool abandon) {
  Impl &w = *impl_;
  if (w.stage == Impl::CLOSED)
    return 0;
  if (abandon) {
    w.stage = Impl::CLOSED;
    std::free(w.buf);
    w.buf = nullptr;
    w.cap = w.len = 0;
    return std::fflush(w.out) != 0 || std::ferror(w.out) ? 1 : 0;
  }

  // 1. The end of the main stream, or of the initializer section.
  w.end_tag();
  w.stage = Impl::SECTIONS;

  // 2. Option sets.
  if (!w.option_sets.empty()) {
    w.header.options_offset = static_cast<uint32_t>(w.pos);
    for (const Impl::OptionSet &set : w.option_sets) {
      w.uleb(set.number);
      w.uleb(static_cast<uint32_t>(set.texts.size()));
      for (const std::string &t : set.texts)
        w.text(t.c_str());
      w.end_record(TAG_OPTION_SET);
    }
    w.end_tag();
  }

  // 3. Types: the offset stays 0 when no type is written.
  const uint64_t types_at = w.pos;
  w.writing_types = true;
  const bool any_type = w.write_types();
  w.writing_types = false;
  if (any_type) {
    w.header.types_offset = static_cast<uint32_t>(types_at);
    w.end_tag();
  }
  w.type_section_done = true;

  // 4. File names, in index order.  Nothing interns a name after this.
  if (!w.files.empty()) {
    w.header.files_offset = static_cast<uint32_t>(w.pos);
    for (const std::string &name : w.files) {
      w.text(name.c_str());
      w.end_record(TAG_FILE_NAME);
    }
    w.end_tag();
  }
  w.file_section_done = true;

  // 5. Global symbols, in table order.
  w.header.globals_offset = static_cast<uint32_t>(w.pos);
  for (I_SYMTAB *sym : w.globals)
    w.symbol_record(*sym, sym->storage_class());
  w.end_tag();

  // 6. The header again, with the offsets, at the same place and length.
  const uint64_t end = w.pos;
  int result = 0;
  if (std::fflush(w.out) != 0 || std::fseek(w.out, w.start, SEEK_SET) != 0)
    result = 1;
  w.pos = 0;
  w.header_record();
  w.pos = end;
  if (std::fseek(w.out, w.start + static_cast<long>(end), SEEK_SET) != 0 ||
      std::fflush(w.out) != 0)
    result = 1;
  if (w.io_error || std::ferror(w.out))
    result = 1;

  std::free(w.buf);
  w.buf = nullptr;
  w.cap = w.len = 0;
  w.stage = Impl::CLOSED;
  return result;
}

uint64_t IcodeWriter::tell() const { return impl_->pos; }
const IcodeHeader &IcodeWriter::header() const { return impl_->header; }
bool IcodeWriter::closed() const { return impl_->stage == Impl::CLOSED; }
bool IcodeWriter::in_initializers() const { return impl_->stage == Impl::INITIALIZERS; }
const std::vector<std::string> &IcodeWriter::file_names() const { return impl_->files; }

} // namespace zor
