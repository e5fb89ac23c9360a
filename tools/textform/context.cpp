// tools/textform/context.cpp - labels, tables and scope depth of the text form.
#include "tools/textform/context.h"

#include "icode/record_tags.h"
#include "ir/tree_print.h"
#include "tools/textform/forms.h"

namespace zor::text {
namespace {

// The words a type label may not be, because they mean something else where
// a type is expected.
bool reserved_type_word(const std::string &s) {
  if (s.empty() || s == "-" || s[0] == '%' || s[0] == '@' || s[0] == '#' || s[0] == '"')
    return true;
  if (s[0] >= '0' && s[0] <= '9')
    return true;
  return false;
}

const Form *form_of(const Record &rec) {
  if (rec.fields.size() < 2)
    return nullptr;
  uint8_t variety = rec.fields.size() > 2 ? static_cast<uint8_t>(rec.fields[2].num) : 0;
  return type_form(static_cast<uint8_t>(rec.fields[1].num), variety);
}

} // namespace

bool is_plain_word(const std::string &s) {
  if (s.empty())
    return false;
  for (unsigned char c : s)
    if (c <= ' ' || c >= 0x7F || c == '"' || c == '(' || c == ')' || c == ';' || c == '\\')
      return false;
  return true;
}

std::string symbol_label(char sigil, const std::string &name) {
  if (is_plain_word(name) && name[0] != '#' && name[0] != '"')
    return std::string(1, sigil) + name;
  return std::string(1, sigil) + c_string_literal(name.data(), static_cast<uint32_t>(name.size()));
}

std::string label_name(const std::string &label) {
  if (label.size() < 2)
    return "";
  if (label[1] != '"')
    return label.substr(1);
  std::string out;
  // The printer writes only the escapes of c_string_literal.
  for (size_t i = 2; i + 1 < label.size(); ++i) {
    char c = label[i];
    if (c != '\\' || i + 2 >= label.size()) {
      out += c;
      continue;
    }
    char e = label[++i];
    switch (e) {
    case 'n': out += '\n'; break;
    case 't': out += '\t'; break;
    case 'r': out += '\r'; break;
    default:
      if (e >= '0' && e <= '7') {
        int v = 0;
        int n = 0;
        for (; n < 3 && i < label.size() - 1 && label[i] >= '0' && label[i] <= '7'; ++n, ++i)
          v = v * 8 + (label[i] - '0');
        --i;
        out += static_cast<char>(v);
      } else {
        out += e;
      }
    }
  }
  return out;
}

// ------------------------------------------------------------------ types

const TypeInfo *Context::type(uint32_t id) const {
  auto it = types_.find(id);
  return it == types_.end() ? nullptr : &it->second;
}

std::string Context::type_ref_text(uint32_t id) const {
  if (id == 0)
    return "-";
  const TypeInfo *t = type(id);
  return t ? t->label : "%t" + std::to_string(id);
}

std::optional<uint32_t> Context::type_by_label(const std::string &label) const {
  auto it = type_labels_.find(label);
  if (it != type_labels_.end())
    return it->second;
  return std::nullopt;
}

bool Context::is_signed(uint32_t id) const {
  for (int guard = 0; guard < 64 && id != 0; ++guard) {
    const TypeInfo *t = type(id);
    if (!t)
      return false;
    switch (t->kind) {
    case 1: case 4: case 6: case 8: case 50:   // char, short, int, long, long long
    case 10: case 11: case 12:                 // the floating types
      return true;
    case 13:   // fixed-point: as its base
    case 14:   // typedef
    case 17:   // qualified
    case 22:   // enumeration: as its integral type
      id = t->base;
      continue;
    case 18:   // a vector: as its element
      if (!t->vector)
        return false;
      id = t->base;
      continue;
    default:
      return false;
    }
  }
  return false;
}

std::string Context::derive_type_label(const Record &rec) const {
  const Form *form = form_of(rec);
  const std::string id_label = "%t" + std::to_string(rec.num(0));
  if (!form) {
    std::string name = id_label;
    for (int k = 2; label_taken(name); ++k)
      name = id_label + "." + std::to_string(k);
    return name;
  }
  std::vector<int> slots = field_slots(*form, version_, rec.fields, 2);
  auto field = [&](size_t i) -> const Field * {
    return i < slots.size() && slots[i] >= 0 && static_cast<size_t>(slots[i]) < rec.fields.size()
               ? &rec.fields[slots[i]]
               : nullptr;
  };
  // The label of a type ref, when it names a bound type.
  auto ref = [&](const Field *f) -> std::string {
    if (!f || f->num == 0 || !type(f->num))
      return "";
    return type(f->num)->label;
  };
  std::string name;
  int kind = form->kind;
  if (const char *b = builtin_type_name(static_cast<uint8_t>(kind))) {
    name = b;
  } else {
    switch (kind) {
    case 15: case 16: {
      std::string base = ref(field(0));
      if (!base.empty())
        name = (kind == 15 ? "*" : "&") + base;
      break;
    }
    case 17: {
      std::string base = ref(field(0));
      const Field *q = field(1);
      if (base.empty() || !q || q->num == 0 || q->num > 0xFF)
        break;
      for (unsigned bit = 0; bit < 8; ++bit)
        if (q->num & (1u << bit))
          name += std::string(qualifier_name(bit)) + ".";
      name += base;
      break;
    }
    case 14:
      if (const Field *n = field(0))
        name = n->str;
      if (!is_plain_word(name) || builtin_type_kind(name) >= 0)
        name.clear();
      break;
    case 18: {
      std::string base = ref(field(0));
      const Field *count = field(1);
      const Field *vec = field(6);
      if (base.empty() || !count)
        break;
      bool is_vector = vec && vec->num != 0;
      name = (is_vector ? "<" : "[") + std::to_string(count->num) + (is_vector ? ">" : "]") + base;
      break;
    }
    case 20: {
      std::string result = ref(field(0));
      if (!result.empty())
        name = "fn." + result;
      break;
    }
    case 22: case 24: case 25: {
      const Field *n = kind == 22 ? field(0) : field(1);
      if (!n || n->str.empty())
        break;
      const char *prefix = kind == 22 ? "enum." : form->fixed == 0 ? "struct." : form->fixed == 1 ? "union." : "class.";
      name = prefix + n->str;
      break;
    }
    default:
      break;   // fixed-point, complex and pointer-to-member types go by identifier
    }
  }
  if (name.empty() || !is_plain_word(name) || reserved_type_word(name) || label_taken(name))
    name = id_label;
  for (int k = 2; label_taken(name); ++k)
    name = id_label + "." + std::to_string(k);
  return name;
}

void Context::bind_type(const Record &rec, const std::string &label) {
  const Form *form = form_of(rec);
  TypeInfo t;
  t.id = rec.num(0);
  t.kind = rec.fields.size() > 1 ? static_cast<int>(rec.fields[1].num) : -1;
  t.label = label;
  if (form) {
    std::vector<int> slots = field_slots(*form, version_, rec.fields, 2);
    bool have_base = false;
    for (size_t i = 0; i < form->fields.size(); ++i) {
      if (slots[i] < 0 || static_cast<size_t>(slots[i]) >= rec.fields.size())
        continue;
      const FieldForm &f = form->fields[i];
      const Field &v = rec.fields[slots[i]];
      std::string n = f.name ? f.name : "";
      if (n == "size")
        t.size = v.num;
      else if (n == "align")
        t.align = v.num;
      else if (n == "vector")
        t.vector = v.num != 0;
      else if (f.ft == FT::Type && !have_base) {
        t.base = v.num;
        have_base = true;
      }
      if (form->kind == 18 && f.ft == FT::Num && !f.name)
        t.count = v.num;
    }
  }
  if (t.id > max_type_id_)
    max_type_id_ = t.id;
  owner_ = t.id;
  type_labels_[label] = t.id;
  types_[t.id] = std::move(t);
}

void Context::note_type_record(const Record &rec) {
  uint32_t owner = rec.num(0);
  owner_ = owner;
  // Data members name the FIELD references to them.
  if (rec.fields.size() > 3 && rec.fields[1].num == 28) {
    auto it = types_.find(owner);
    if (it != types_.end())
      it->second.members.emplace(rec.fields[2].num, rec.fields[3].str);
  }
}

// ---------------------------------------------------------------- symbols

void Context::scope_record(uint8_t tag) {
  switch (tag) {
  case TAG_FUNC_BEGIN:
  case TAG_DECL_SCOPE_BEGIN:
    depth_ = 1;
    locals_.clear();
    local_labels_.clear();
    break;
  case TAG_BODY_BEGIN: depth_ = 2; break;
  case TAG_BLOCK_BEGIN: ++depth_; break;
  case TAG_BLOCK_END:
    if (depth_ > 0)
      --depth_;
    break;
  case TAG_FUNC_END:
  case TAG_DECL_SCOPE_END: depth_ = 0; break;
  default: break;   // no effect on the scope
  }
}

std::string Context::derive_symbol_label(const std::string &name, bool global) const {
  const auto &labels = global ? global_labels_ : local_labels_;
  char sigil = global ? '@' : '%';
  std::string label = symbol_label(sigil, name);
  for (int k = 1; labels.count(label); ++k)
    label = symbol_label(sigil, name + "." + std::to_string(k));
  return label;
}

void Context::enter_symbol(const std::string &label, const std::string &name, uint32_t type) {
  bool global = depth_ == 0;
  auto &table = global ? globals_ : locals_;
  auto &labels = global ? global_labels_ : local_labels_;
  labels.emplace(label, static_cast<uint32_t>(table.size()));
  table.push_back({label, name, depth_, type});
}

std::optional<uint32_t> Context::global_by_label(const std::string &label) const {
  auto it = global_labels_.find(label);
  if (it != global_labels_.end())
    return it->second;
  return std::nullopt;
}

std::optional<uint32_t> Context::local_by_label(const std::string &label) const {
  auto it = local_labels_.find(label);
  if (it != local_labels_.end())
    return it->second;
  return std::nullopt;
}

std::string Context::global_text(uint32_t index) const {
  return index < globals_.size() ? globals_[index].label : "@#" + std::to_string(index);
}

std::string Context::name_ref_text(uint32_t scope, uint32_t index, uint32_t &implied) const {
  if (scope == 0) {
    implied = 0;
    return global_text(index);
  }
  if (index < locals_.size()) {
    implied = locals_[index].depth;
    return locals_[index].label;
  }
  implied = 1;
  return "%#" + std::to_string(index);
}

// ------------------------------------------------------------------ files

void Context::add_file(const std::string &name) {
  files_.push_back(name);
  if (is_plain_word(name) && name[0] != '#' && name != "-")
    file_labels_.emplace(name, static_cast<uint32_t>(files_.size()));
}

std::optional<uint32_t> Context::file_by_label(const std::string &label) const {
  if (label.size() > 1 && label[0] == '#') {
    uint32_t v = 0;
    for (size_t i = 1; i < label.size(); ++i) {
      if (label[i] < '0' || label[i] > '9' || v > 100000000)
        return std::nullopt;
      v = v * 10 + static_cast<uint32_t>(label[i] - '0');
    }
    return v;
  }
  auto it = file_labels_.find(label);
  if (it != file_labels_.end())
    return it->second;
  return std::nullopt;
}

std::string Context::pos_text(const RawPos &p) const {
  if (p.file == 0)
    return "-";
  std::string file;
  if (p.file <= files_.size()) {
    const std::string &name = files_[p.file - 1];
    auto it = file_labels_.find(name);
    if (it != file_labels_.end() && it->second == p.file)
      file = name;
  }
  if (file.empty())
    file = "#" + std::to_string(p.file);
  return file + ":" + std::to_string(p.line) + ":" + std::to_string(p.column);
}

} // namespace zor::text
