// tools/zcc/emit.cpp - writing the lowered module as an I-code file.
//
// Order of the file: each function (begin record, parameters at level 1,
// body begin, locals at level 2, the body's records, end record), then the
// initializers (the first one ends the main stream), then the global
// symbols, which the writer puts into their section when it closes.
#include <cstdio>
#include <cstring>

#include "icode/reader.h"
#include "icode/record_tags.h"
#include "icode/writer.h"
#include "tools/zcc/lower.h"

namespace zor::zcc {

Module::~Module() {
  for (FunctionOut &f : functions)
    for (BodyItem &it : f.items)
      if (it.tree)
        erase_tree(it.tree);
  for (InitializerOut &i : initializers)
    for (NODE *t : i.trees)
      erase_tree(t);
}

namespace {

// ICONs whose value needs more than 32 bits are written as LCON (decimal
// text), which the reader turns back into an ICON.
void widen_constants(NODE *n) {
  for (; n; n = n->left) {
    if (n->op == ICON && int_width_of(n->type) > 32) {
      const __int128 v = n->icon.to_i128();
      const __int128 low = int_type_is_signed(n->type)
                               ? static_cast<__int128>(static_cast<int32_t>(n->icon.low32()))
                               : static_cast<__int128>(n->icon.low32());
      if (v != low)
        n->op = LCON;
    }
    widen_constants(n->right);
  }
}

void write_function(IcodeWriter &w, FunctionOut &f) {
  w.function_begin(f.begin, f.symbol->index());
  w.clear_locals();
  for (SYMTAB *p : f.params) {
    w.symbol(*p);
    w.enter_local(*p, 1);
  }
  w.position_record(TAG_BODY_BEGIN, f.body);
  for (SYMTAB *l : f.locals) {
    w.symbol(*l);
    w.enter_local(*l, 2);
  }
  for (BodyItem &it : f.items) {
    switch (it.kind) {
    case BodyItem::STATEMENT:
      widen_constants(it.tree);
      w.statement(it.pos, it.tree);
      break;
    case BodyItem::LABEL:
      w.label(it.label);
      break;
    case BodyItem::PRAGMA:
      w.pragma_record(*it.pragma);
      break;
    }
  }
  w.position_record(TAG_FUNC_END, f.end);
}

} // namespace

bool write_module(Module &m, const std::string &path, const std::string &producer) {
  FILE *out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "zcc: error: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  int rc = 0;
  try {
    std::unique_ptr<IcodeWriter> w = IcodeWriter::open(out, *m.types, producer);
    for (FunctionOut &f : m.functions)
      write_function(*w, f);
    for (InitializerOut &init : m.initializers) {
      for (NODE *t : init.trees)
        widen_constants(t);
      std::vector<BASE_NODE *> trees(init.trees.begin(), init.trees.end());
      w->initializer(*init.symbol, trees);
    }
    for (SYMTAB *g : m.globals)
      w->add_global(*g);
    rc = w->close();
  } catch (const IcodeFatal &e) {
    std::fprintf(stderr, "zcc: error: %s", e.what());
    rc = 1;
  }
  if (std::fclose(out) != 0 || rc != 0) {
    std::fprintf(stderr, "zcc: error: cannot write '%s'\n", path.c_str());
    std::remove(path.c_str());
    return false;
  }
  return true;
}

} // namespace zor::zcc
