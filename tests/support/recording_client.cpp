// tests/support/recording_client.cpp - an I-code client that writes down what
// the reader tells it.
#include "tests/support/recording_client.h"

#include <cstdio>

#include "icode/interchange_ops.h"
#include "ir/type.h"

namespace zor::test {
namespace {

std::string quoted(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string list(const std::vector<std::string> &items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i)
    out += (i ? "," : "") + quoted(items[i]);
  return out + "]";
}

std::string sym_name(const I_SYMTAB *sym) { return sym ? sym->name() : "-"; }

} // namespace

// ------------------------------------------------------------------ RecNode

void RecNode::set_opcode(uint32_t op) {
  op_ = op;
  calls.push_back("opcode=" + RecordingClient::op_name(op));
}

void RecNode::set_epval_index(int32_t index) {
  epval_ = index;
  calls.push_back("epval=" + std::to_string(index));
}

void RecNode::set_name_symbol(I_SYMTAB *sym) {
  sym_ = sym;
  calls.push_back("sym=" + sym_name(sym));
}

void RecNode::set_field(int flag, const MEMBER *member, TYPE *struct_type) {
  member_ = member;
  struct_type_ = struct_type;
  calls.push_back("field=" + std::to_string(flag) + "," +
                  (member ? member->name : std::string("-")) + "," +
                  RecordingClient::type_name(struct_type));
}

void RecNode::set_icon(uint32_t value) {
  value_ = value;
  calls.push_back("icon=" + std::to_string(value));
}

void RecNode::set_lcon_text(const char *text) {
  text_ = text;
  calls.push_back("lcon=" + quoted(text));
}

void RecNode::set_fcon_text(const char *text) {
  text_ = text;
  calls.push_back("fcon=" + quoted(text));
}

void RecNode::set_scon(const char *bytes, uint32_t length) {
  text_.assign(bytes, length);
  calls.push_back("scon=" + std::to_string(length) + ":" + quoted(text_));
}

void RecNode::set_label_number(uint32_t number) {
  value_ = number;
  calls.push_back("label=" + std::to_string(number));
}

void RecNode::set_vreg_number(int32_t number) {
  calls.push_back("vreg=" + std::to_string(number));
}

void RecNode::set_skip_number(uint32_t number) {
  value_ = number;
  calls.push_back("skip=" + std::to_string(number));
}

void RecNode::set_switch_number(uint32_t number) {
  value_ = number;
  calls.push_back("switch=" + std::to_string(number));
}

void RecNode::set_ddnode(uint32_t index, uint32_t second, uint8_t flag) {
  calls.push_back("ddnode=" + std::to_string(index) + "," + std::to_string(second) + "," +
                  std::to_string(flag));
}

void RecNode::set_call(uint32_t first, uint32_t word) {
  value_ = first;
  word_ = word;
  calls.push_back("call=" + std::to_string(first) + "," + std::to_string(word));
}

void RecNode::set_ucall(uint32_t word) {
  word_ = word;
  calls.push_back("ucall=" + std::to_string(word));
}

void RecNode::set_callee_name(const char *name) {
  text_ = name;
  calls.push_back("callee=" + quoted(name));
}

// ---------------------------------------------------------------- RecSymbol

void RecSymbol::add_attribute_list(PragmaRecord *rec) {
  PragmaRecord **tail = &attrs_;
  while (*tail)
    tail = &(*tail)->next;
  *tail = rec;
  ++attr_count_;
}

void RecSymbol::set_scope_level(uint32_t level) {
  level_ = level;
  owner_->log("set_scope_level " + rec_.name + " " + std::to_string(level));
}

void RecSymbol::set_index(uint32_t index) {
  index_ = index;
  owner_->log("set_index " + rec_.name + " " + std::to_string(index));
}

// ---------------------------------------------------------- RecordingClient

RecordingClient::~RecordingClient() = default;

void RecordingClient::log(std::string line) { lines.push_back(std::move(line)); }

std::string RecordingClient::joined(size_t from) const {
  std::string out;
  for (size_t i = from; i < lines.size(); ++i)
    out += lines[i] + "\n";
  return out;
}

std::string RecordingClient::op_name(uint32_t op) {
  const InterchangeOp *info = interchange_op(op);
  if (info && info->name)
    return info->name;
  return "op" + std::to_string(op);
}

std::string RecordingClient::type_name(const TYPE *type) {
  static const char *const ints[] = {"bool", "char",  "uchar", "wchar", "short", "ushort",
                                     "int",  "uint",  "long",  "ulong", "llong", "ullong"};
  static const char *const floats[] = {"float", "double", "ldouble"};
  if (!type)
    return "-";
  if (type->kind == TK_INTEGRAL && type->subkind < IK_COUNT)
    return ints[type->subkind];
  if (type->kind == TK_FLOATING && type->subkind < FK_COUNT)
    return floats[type->subkind];
  if (!type->name_text.empty())
    return type->name_text;
  return "t" + std::to_string(type->id);
}

std::string RecordingClient::render_pos(const SrcPos &pos) {
  if (!pos.file && pos.line == 0 && pos.column == 0)
    return "@-";
  return "@" + std::string(pos.file ? pos.file : "?") + ":" + std::to_string(pos.line) + ":" +
         std::to_string(pos.column);
}

std::string RecordingClient::render(const BASE_NODE *tree) {
  if (!tree)
    return "()";
  std::string out = "(" + op_name(tree->opcode()) + ":" + type_name(tree->node_type());
  if (auto *rec = dynamic_cast<const RecNode *>(tree))
    for (const std::string &c : rec->calls)
      out += " " + c;
  for (int i = 0; i < 2; ++i)
    if (tree->operand(i))
      out += " " + render(tree->operand(i));
  return out + ")";
}

std::string RecordingClient::tree_text(const BASE_NODE *tree) const {
  return render_trees ? render(tree) : "<tree>";
}

void RecordingClient::free_tree(BASE_NODE *tree) {
  std::vector<BASE_NODE *> todo;
  if (tree)
    todo.push_back(tree);
  while (!todo.empty()) {
    BASE_NODE *n = todo.back();
    todo.pop_back();
    for (int i = 0; i < 2; ++i)
      if (n->operand(i))
        todo.push_back(n->operand(i));
    delete n;
    --live_nodes;
  }
}

bool RecordingClient::accept_version(int version, int check) {
  log("accept_version " + std::to_string(version) + " " + std::to_string(check));
  return accept;
}

void RecordingClient::option_set(uint32_t number, std::vector<std::string> texts) {
  log("option_set " + std::to_string(number) + " " + list(texts));
}

void RecordingClient::after_types() { log("after_types"); }
void RecordingClient::before_stream() { log("before_stream"); }

void RecordingClient::function_begin(I_SYMTAB *fn, SrcPos pos) {
  log("function_begin " + sym_name(fn) + " " + render_pos(pos));
}

void RecordingClient::body_begin(SrcPos pos) { log("body_begin " + render_pos(pos)); }
void RecordingClient::block_begin(SrcPos pos) { log("block_begin " + render_pos(pos)); }
void RecordingClient::block_end(SrcPos pos) { log("block_end " + render_pos(pos)); }
void RecordingClient::function_end(SrcPos pos) { log("function_end " + render_pos(pos)); }
void RecordingClient::position(SrcPos pos) { log("position " + render_pos(pos)); }

void RecordingClient::statement(BASE_NODE *tree, SrcPos pos) {
  log("statement " + render_pos(pos) + " " + tree_text(tree));
  free_tree(tree);
}

void RecordingClient::label(uint32_t number) { log("label " + std::to_string(number)); }

void RecordingClient::inline_asm(const std::string &text, SrcPos pos) {
  log("asm " + quoted(text) + " " + render_pos(pos));
}

void RecordingClient::pragma(const std::string &text) { log("pragma " + quoted(text)); }

void RecordingClient::pragma_record(PragmaRecord *rec) {
  log("pragma_record " + std::to_string(rec->kind) + " " + list(rec->args));
  delete rec;
}

I_SYMTAB *RecordingClient::new_symbol(const SymbolRecord &rec) {
  char flags[16];
  std::snprintf(flags, sizeof flags, "0x%x", rec.flags);
  log("new_symbol " + rec.name + " size=" + std::to_string(rec.size) +
      " offset=" + std::to_string(rec.offset) + " class=" + std::to_string(rec.storage_class) +
      " flags=" + flags + " type=" + type_name(rec.type) + " type2=" + type_name(rec.second_type) +
      " align=" + std::to_string(rec.alignment) + " init=" +
      std::to_string(rec.initializer_position) + " optset=" + std::to_string(rec.option_set) +
      " " + render_pos(rec.position));
  symbols_.push_back(std::make_unique<RecSymbol>(rec, this));
  return symbols_.back().get();
}

void RecordingClient::symbol_complete(I_SYMTAB *sym) {
  log("symbol_complete " + sym_name(sym) + " lists=" +
      std::to_string(sym->attribute_list_count()));
}

void RecordingClient::attribute_list(I_SYMTAB *sym, PragmaRecord *rec) {
  log("attribute_list " + sym_name(sym) + " " + std::to_string(rec->kind) + " " +
      list(rec->args));
  static_cast<RecSymbol *>(sym)->add_attribute_list(rec);
}

void RecordingClient::initializer(I_SYMTAB *sym, std::vector<BASE_NODE *> trees) {
  std::string line = "initializer " + sym_name(sym);
  for (BASE_NODE *t : trees) {
    line += " " + tree_text(t);
    free_tree(t);
  }
  log(line);
}

void RecordingClient::exception_table(std::vector<EhtEntry> entries) {
  log("exception_table " + std::to_string(entries.size()));
  for (EhtEntry &e : entries) {
    std::string line = "  entry id=" + std::to_string(e.id) + " kind=" + std::to_string(e.kind) +
                       " next=" + std::to_string(e.next) + " count=" + std::to_string(e.count);
    if (e.cleanup) {
      line += " cleanup " + render_pos(e.cleanup_pos) + " " + tree_text(e.cleanup);
      free_tree(e.cleanup);
    }
    for (const EhtHandler &h : e.handlers)
      line += " handler " + quoted(h.type_name) + ":" + std::to_string(h.label) + ":" +
              (h.flag ? "1" : "0");
    log(line);
  }
}

BASE_NODE *RecordingClient::make_node(uint32_t op, TYPE *type) {
  ++live_nodes;
  return new RecNode(op, type);
}

void RecordingClient::discard_tree(BASE_NODE *tree) {
  log("discard " + tree_text(tree));
  free_tree(tree);
}

} // namespace zor::test
