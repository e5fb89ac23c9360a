// icode/reader.cpp - the I-code reader.
//
// Decodes the header, the five sections and the main record stream into calls
// on the client.  Node records are read iteratively with an explicit stack of
// the nodes still waiting for operands; every tree under construction is
// attached to its parent at once, so an error in the middle of a tree can
// release the whole partial tree through the client.
#include "icode/reader.h"

#include <cstring>
#include <new>
#include <utility>

#include "icode/interchange_ops.h"
#include "icode/reader_impl.h"
#include "icode/record_tags.h"
#include "ir/opcodes.h"
#include "ir/type.h"

namespace zor {

const char kIcodeMagic[] = "!<icode>\n";
const char kInvalidRecord[] = "\nINTERNAL ERROR: Invalid I-code record, aborting\n";
const char kInvalidEhtRecord[] = "\nINTERNAL ERROR: Invalid EHT record in I-code, aborting\n";
const char kForwardReference[] = "invalid forward reference";
const char kTypeTwice[] = "read type twice";
const char kUnexpectedTypeAttribute[] = "Unexpected type attribute";
const char kDuplicateFunctionParameters[] = "Duplicate function parameters";
const char kDuplicateEnumerators[] = "Duplicate enumerator attributes";
const char kDuplicateCsuAttributes[] = "Duplicate CSU attributes";
const char kOutOfMemory[] = ">> out of memory\n";

int icode_check_value = kCheckValue;

namespace {

constexpr size_t kStreamBufferSize = 32768;

// Releases trees the reader holds when decoding stops half-way.
class TreeList {
public:
  explicit TreeList(IcodeClient &client) : client_(client) {}
  TreeList(const TreeList &) = delete;
  TreeList &operator=(const TreeList &) = delete;
  ~TreeList() {
    for (BASE_NODE *t : trees_)
      client_.discard_tree(t);
  }
  void add(BASE_NODE *t) { trees_.push_back(t); }
  std::vector<BASE_NODE *> take() {
    std::vector<BASE_NODE *> out;
    out.swap(trees_);
    return out;
  }

private:
  IcodeClient &client_;
  std::vector<BASE_NODE *> trees_;
};

// Relational operators 80..89 on floating operands become float comparisons.
// NEQ becomes FNEQN because inequality holds for unordered operands; the
// unsigned variants lose their distinction.
uint32_t float_comparison(uint32_t op) {
  switch (op) {
  case EQ: return FEQ;
  case NEQ: return FNEQN;
  case LE: case ULE: return FLE;
  case LT: case ULT: return FLT;
  case GE: case UGE: return FGE;
  case GT: case UGT: return FGT;
  default: return op;
  }
}

bool is_floating(const BASE_NODE *n) {
  return n && n->node_type() && n->node_type()->is_floating();
}

} // namespace

// ---------------------------------------------------------------- lookups

TYPE *IcodeReader::Impl::lookup_type(uint32_t id) const {
  if (id == 0)
    return nullptr;
  auto it = type_map.find(id);
  if (it == type_map.end() || !it->second.type)
    type_fatal(kForwardReference);
  return it->second.type;
}

SrcPos IcodeReader::Impl::pos() { return to_pos(in.pos()); }

SrcPos IcodeReader::Impl::to_pos(const RawPos &r) const {
  SrcPos p;
  if (r.file == 0)
    return p;
  if (r.file <= files.size())
    p.file = files[r.file - 1]->c_str();
  p.line = r.line;
  p.column = r.column;
  return p;
}

I_SYMTAB *IcodeReader::Impl::global_or_fail(uint32_t index) const {
  if (index >= globals.size() || !globals[index])
    throw IcodeFatal(kInvalidRecord);
  return globals[index];
}

// ----------------------------------------------------------------- header

// Header checks in their fixed order: tag, magic, version read, check value,
// version range, then the fields and the client's consent.
bool IcodeReader::Impl::read_header() {
  if (in.tag() != TAG_HEADER)
    return false;
  in.uleb();
  if (std::strcmp(in.text(), kIcodeMagic) != 0)
    return false;
  header.version = in.sshort();
  header.check = in.sshort();
  if (header.check != kCheckValue)
    return false;
  icode_check_value = header.check;
  if (header.version < kOldestVersion || header.version > kNewestVersion)
    return false;
  header.options_offset = in.word();
  header.init_offset = in.word();
  header.types_offset = in.word();
  header.files_offset = in.word();
  header.globals_offset = in.word();
  header.producer = in.text();
  header.extra = header.version >= -83 ? in.word() : 0;
  return client.accept_version(header.version, header.check);
}

// --------------------------------------------------------------- sections

// Reads the records of a section (any tag, closed by 255) and returns to
// where the reader was.
template <class PerRecord>
void IcodeReader::Impl::read_section(uint32_t offset, PerRecord per_record) {
  if (offset == 0)
    return;
  uint64_t back = in.tell();
  in.seek(offset);
  for (;;) {
    uint8_t tag = in.tag();
    if (tag == TAG_END)
      break;
    uint32_t length = in.uleb();
    per_record(length);
  }
  in.seek(back);
}

void IcodeReader::Impl::read_option_sets() {
  read_section(header.options_offset, [this](uint32_t) {
    uint32_t number = in.uleb();
    uint32_t count = in.uleb();
    std::vector<std::string> texts;
    read_texts(count, texts);
    client.option_set(number, std::move(texts));
  });
}

// ---------------------------------------------------- symbols and pragmas

void IcodeReader::Impl::enter_symbol(I_SYMTAB *sym) {
  std::vector<I_SYMTAB *> &table = depth == 0 ? globals : locals;
  table.push_back(sym);
  if (!sym)
    return;
  sym->set_scope_level(depth);
  sym->set_index(static_cast<uint32_t>(table.size() - 1));
}

// A symbol record and the attribute-list records (tag 94) announced by it.
void IcodeReader::Impl::read_symbol() {
  SymbolRecord rec;
  rec.name = in.text();
  rec.size = in.uleb();
  rec.offset = in.uleb();
  rec.storage_class = in.byte();
  rec.flags = in.ushort();
  rec.type = type_ref();
  rec.second_type = type_ref();
  rec.alignment = in.uleb();
  uint8_t lists = in.byte();
  rec.initializer_position = in.uleb();
  rec.option_set = in.uleb();
  rec.position = pos();
  rec.scope_level = depth;

  I_SYMTAB *sym = client.new_symbol(rec);
  enter_symbol(sym);
  for (unsigned i = 0; i < lists; ++i) {
    uint8_t tag = in.tag();
    if (in.eof())
      break;
    if (tag != TAG_ATTRIBUTES)
      throw IcodeFatal(kInvalidRecord);
    in.uleb();
    std::unique_ptr<PragmaRecord> list(read_pragma_record());
    if (sym)
      client.attribute_list(sym, list.release());
  }
  if (sym)
    client.symbol_complete(sym);
}

PragmaRecord *IcodeReader::Impl::read_pragma_record() {
  auto kind = static_cast<uint8_t>(in.uleb());
  uint32_t count = in.uleb();
  std::vector<std::string> args;
  read_texts(count, args);
  return new PragmaRecord(kind, std::move(args));
}

// `count` texts, fewer when the file ends first.
void IcodeReader::Impl::read_texts(uint32_t count, std::vector<std::string> &texts) {
  for (uint32_t i = 0; i < count; ++i) {
    const char *t = in.text();
    if (in.eof() && !*t)
      return;
    texts.emplace_back(t);
  }
}

// ------------------------------------------------------------------ trees

// An initializer: its symbol, then trees up to one whose root is ENDINIT.
void IcodeReader::Impl::read_initializer() {
  I_SYMTAB *sym = global_or_fail(in.uleb());
  TreeList trees(client);
  for (;;) {
    BASE_NODE *t = read_tree(false);
    trees.add(t);
    if (t->opcode() == ENDINIT)
      break;
  }
  client.initializer(sym, trees.take());
}

// Reads one tree in prefix order without recursion.  `header_read` says the
// root record's tag and length have been consumed already.
BASE_NODE *IcodeReader::Impl::read_tree(bool header_read) {
  struct Pending {
    BASE_NODE *node;
    unsigned operands;   // to read
    unsigned next;       // read so far
  };
  std::vector<Pending> stack;
  BASE_NODE *root = nullptr;
  try {
    for (;;) {
      if (stack.size() >= kMaxTreeDepth)
        throw IcodeFatal(kInvalidRecord);
      unsigned operands = 0;
      BASE_NODE *n = read_node(header_read, operands);
      header_read = false;
      if (stack.empty()) {
        root = n;
      } else {
        Pending &parent = stack.back();
        parent.node->set_operand(static_cast<int>(parent.next++), n);
      }
      if (operands > 0) {
        stack.push_back({n, operands, 0});
        continue;
      }
      // Close every node whose operands are now complete.
      while (!stack.empty() && stack.back().next == stack.back().operands) {
        BASE_NODE *done = stack.back().node;
        if (stack.back().operands == 2 &&
            (is_floating(done->operand(0)) || is_floating(done->operand(1)))) {
          uint32_t op = float_comparison(done->opcode());
          if (op != done->opcode())
            done->set_opcode(op);
        }
        stack.pop_back();
      }
      if (stack.empty())
        return root;
    }
  } catch (...) {
    if (root)
      client.discard_tree(root);
    throw;
  }
}

// One node record: checks its tag, makes the node and hands it its fields.
// `operands` receives the number of operand records that follow.
BASE_NODE *IcodeReader::Impl::read_node(bool header_read, unsigned &operands) {
  if (!header_read) {
    if (in.tag() != TAG_NODE)
      throw IcodeFatal(kInvalidRecord);
    in.uleb();
  }
  uint32_t op = in.byte();
  if (op > kMaxFileOp)
    throw IcodeFatal(kInvalidRecord);
  TYPE *type = type_ref();

  BASE_NODE *n = client.make_node(op, type);
  try {
    read_node_fields(n, op, type);
  } catch (...) {
    client.discard_tree(n);
    throw;
  }
  uint32_t arity = interchange_op(op)->arity;
  operands = op != SKIP && (arity == 1 || arity == 2) ? arity : 0;
  return n;
}

void IcodeReader::Impl::read_node_fields(BASE_NODE *n, uint32_t op, TYPE *type) {
  switch (op) {
  case LABEL:
    n->set_label_number(in.uleb());
    break;
  case NAME: {
    RawSymRef ref = in.sym_ref_uleb_scope();
    if (ref.none())
      break;
    const std::vector<I_SYMTAB *> &table = ref.scope == 0 ? globals : locals;
    if (ref.index >= table.size() || !table[ref.index])
      throw IcodeFatal(kInvalidRecord);
    n->set_name_symbol(table[ref.index]);
    break;
  }
  case SCON: {
    std::string bytes = in.counted_text();
    n->set_scon(bytes.data(), static_cast<uint32_t>(bytes.size()));
    break;
  }
  case ICON:
    if (type && type->is_signed())
      n->set_icon(static_cast<uint32_t>(in.sleb()));
    else
      n->set_icon(in.uleb());
    break;
  case FCON:
    n->set_fcon_text(in.text());
    break;
  case LCON:
    n->set_lcon_text(in.text());
    break;
  case FIELD: {
    int flag = static_cast<int8_t>(in.byte());
    uint32_t member_id = in.uleb();
    TYPE *struct_type = type_ref();
    const MEMBER *member = struct_type ? struct_type->member_by_id(member_id) : nullptr;
    if (!member)
      throw IcodeFatal(kInvalidRecord);
    n->set_field(flag, member, struct_type);
    break;
  }
  case VREG:
    n->set_vreg_number(in.sleb());
    break;
  case SKIP:
    n->set_skip_number(in.uleb());
    break;
  case SWITCH:
    n->set_switch_number(in.uleb());
    break;
  case CALL: {
    uint32_t first = in.uleb();
    uint32_t word = in.uleb();
    n->set_call(first, word);
    break;
  }
  case UCALL:
    n->set_ucall(in.uleb());
    break;
  case EPVAL:
    n->set_epval_index(static_cast<int32_t>(in.uleb()));
    break;
  case DDNODE: {
    uint32_t index = in.uleb();
    uint32_t second = in.uleb();
    uint8_t flag = in.byte();
    n->set_ddnode(index, second, flag);
    break;
  }
  case ICALL: case UICALL: case MCALL: case UMCALL:
    n->set_callee_name(in.text());
    break;
  default:
    break;   // the operator carries no fields
  }
}

// -------------------------------------------------- exception-handling table

void IcodeReader::Impl::read_eht() {
  uint32_t count = in.uleb();
  std::vector<EhtEntry> entries;
  TreeList cleanups(client);   // released with the entries on an error
  for (uint32_t i = 0; i < count; ++i) {
    if (in.tag() != TAG_EHT_ENTRY)
      throw IcodeFatal(kInvalidEhtRecord);
    in.uleb();
    EhtEntry e;
    e.id = in.uleb();
    e.kind = in.uleb();
    e.next = in.uleb();
    e.count = in.uleb();
    if (e.kind == EHT_CLEANUP) {
      if (in.tag() != TAG_STATEMENT)
        throw IcodeFatal(kInvalidEhtRecord);
      in.uleb();
      e.cleanup_pos = pos();
      e.cleanup = read_tree(false);
      cleanups.add(e.cleanup);
    } else if (e.kind == EHT_CATCH) {
      if (in.tag() != TAG_EHT_HANDLERS)
        throw IcodeFatal(kInvalidEhtRecord);
      in.uleb();
      for (uint32_t h = 0; h < e.count; ++h) {
        EhtHandler handler;
        handler.type_name = in.text();
        if (in.eof() && handler.type_name.empty())
          break;
        handler.label = in.uleb();
        handler.flag = in.flag();
        e.handlers.push_back(std::move(handler));
      }
    }
    entries.push_back(std::move(e));
  }
  cleanups.take();   // the entries carry them to the client now
  client.exception_table(std::move(entries));
}

// ------------------------------------------------------------ main stream

void IcodeReader::Impl::read_main_stream() {
  for (;;) {
    uint8_t tag = in.tag();
    if (tag == TAG_END)
      return;
    read_record(tag, in.uleb());
  }
}

void IcodeReader::Impl::read_record(uint8_t tag, uint32_t length) {
  switch (tag) {
  case TAG_FUNC_BEGIN: {
    SrcPos p = pos();
    I_SYMTAB *fn = global_or_fail(in.uleb());
    depth = 1;
    locals.clear();
    client.function_begin(fn, p);
    break;
  }
  case TAG_BODY_BEGIN:
    depth = 2;
    client.body_begin(pos());
    break;
  case TAG_BLOCK_BEGIN:
    ++depth;
    client.block_begin(pos());
    break;
  case TAG_BLOCK_END:
    if (depth > 0)
      --depth;
    client.block_end(pos());
    break;
  case TAG_FUNC_END:
    depth = 0;
    client.function_end(pos());
    break;
  case TAG_POSITION:
    client.position(pos());
    break;
  case TAG_STATEMENT: {
    SrcPos p = pos();
    client.statement(read_tree(false), p);
    break;
  }
  case TAG_NODE:
    client.discard_tree(read_tree(true));
    break;
  case TAG_LABEL:
    client.label(in.uleb());
    break;
  case TAG_ASM: {
    std::string text = in.text();
    client.inline_asm(text, pos());
    break;
  }
  case TAG_PRAGMA: {
    const char *text = in.text();
    if (text[0] != '*')
      client.pragma(text);
    break;
  }
  case TAG_SYMBOL:
    read_symbol();
    break;
  case TAG_ATTRIBUTES:
    client.pragma_record(read_pragma_record());
    break;
  case TAG_INITIALIZER:
    read_initializer();
    break;
  case TAG_TYPE:
    read_type_record(length);
    break;
  case TAG_EHT:
    read_eht();
    break;
  case TAG_DECL_SCOPE_BEGIN:
    in.uleb();   // global symbol index
    in.sleb();
    in.byte();
    in.uleb();
    pos();
    depth = 1;
    locals.clear();
    break;
  case TAG_DECL_SCOPE_END:
    pos();
    depth = 0;
    break;
  case TAG_SYMBOL_REF:
    in.uleb();
    in.sleb();   // scope
    in.sleb();   // index
    in.byte();
    break;
  case TAG_RECORD_108: {
    in.uleb();
    uint8_t form = in.byte();
    if (form == 0 || form == 1) {
      in.uleb();
      if (form == 0)
        in.sleb();
      else
        in.uleb();
      type_ref();
      in.sleb();
      in.uleb();
    } else if (form == 2) {
      in.uleb();
    }
    break;
  }
  case TAG_RECORD_38:
    for (int i = 0; i < 5; ++i)
      in.uleb();
    in.ushort();
    break;
  case TAG_RECORD_45:
    for (int i = 0; i < 5; ++i)
      in.uleb();
    break;
  case TAG_DDEDGE:
    for (int i = 0; i < 3; ++i)
      in.uleb();
    break;
  case TAG_RECORD_59: {
    in.uleb();
    in.byte();
    uint8_t n = in.byte();
    for (unsigned i = 0; i < n; ++i)
      in.ushort();
    break;
  }
  case TAG_BYTE_RECORD:
    in.byte();
    break;
  case TAG_FILE_NAME:
    in.text();   // names come from the file-name section
    break;
  case TAG_SKIPPED:
    in.skip(length);
    break;
  default:
    // Reported, and reading goes on right after the length field: the
    // payload's first byte is taken as the next tag.
    std::fprintf(err, "\n///ERROR @0x%lx\n\n", static_cast<unsigned long>(in.tell()));
    break;
  }
}

// ---------------------------------------------------------------- reader

IcodeReader::IcodeReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IcodeReader::~IcodeReader() = default;

std::unique_ptr<IcodeReader> IcodeReader::open(FILE *file, IcodeClient &client,
                                               TYPE_PKG &types) {
  std::setvbuf(file, nullptr, _IOFBF, kStreamBufferSize);
  auto impl = std::make_unique<Impl>(file, client, types);
  if (!impl->read_header())
    return nullptr;
  build_interchange_table();
  impl->read_option_sets();
  return std::unique_ptr<IcodeReader>(new IcodeReader(std::move(impl)));
}

void IcodeReader::read_all() {
  Impl &r = *impl_;
  try {
    r.read_section(r.header.files_offset, [&r](uint32_t) {
      r.files.push_back(std::make_unique<std::string>(r.in.text()));
    });
    r.read_section(r.header.types_offset,
                   [&r](uint32_t length) { r.read_type_record(length); });
    r.client.after_types();
    r.read_section(r.header.globals_offset, [&r](uint32_t) { r.read_symbol(); });
    r.read_section(r.header.init_offset, [&r](uint32_t) { r.read_initializer(); });
    r.client.before_stream();
    r.read_main_stream();
  } catch (const std::bad_alloc &) {
    throw IcodeFatal(kOutOfMemory);
  }
}

const IcodeHeader &IcodeReader::header() const { return impl_->header; }

I_SYMTAB *IcodeReader::global_symbol(uint32_t index) const {
  return index < impl_->globals.size() ? impl_->globals[index] : nullptr;
}

I_SYMTAB *IcodeReader::local_symbol(uint32_t index) const {
  return index < impl_->locals.size() ? impl_->locals[index] : nullptr;
}

TYPE *IcodeReader::lookup_type(uint32_t id) const { return impl_->lookup_type(id); }

const char *IcodeReader::file_name(uint32_t index) const {
  if (index == 0 || index > impl_->files.size())
    return nullptr;
  return impl_->files[index - 1]->c_str();
}

void IcodeReader::bind_type(uint32_t id, TYPE *type) {
  Impl::TypeEntry &e = impl_->type_map[id];
  e.type = type;
  e.open_groups = 0;
  e.open_mask = 0;
}

void IcodeReader::set_error_stream(FILE *f) { impl_->err = f; }

} // namespace zor
