// tests/fuzz/reader_fuzz.cpp - fuzz target of the I-code reader.
//
// Opens the input as an I-code image and reads it all twice: with a client
// that records every callback and frees every tree it is given (and checks
// that no tree is lost), and with the optimizer's own program context, which
// builds the types, symbols, scopes and statement lists of the declaration
// part and of every function.  Fatal records end a run through IcodeFatal,
// and the program context's internal errors are turned into the same
// exception here; nothing on any path may exit, read out of bounds, leak or
// loop.  A handful of type identifiers are bound beforehand so that node
// records can name integral, floating, pointer and structure types.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "icode/reader.h"
#include "ir/node.h"
#include "ir/program.h"
#include "ir/type.h"
#include "tests/support/recording_client.h"

using namespace zor;

namespace {

FILE *null_stream() {
  static FILE *sink = std::fopen("/dev/null", "w");
  return sink;
}

void bind_fuzz_types(IcodeReader &reader, TYPE_PKG &types) {
  reader.bind_type(1, types.mk_int(IK_INT));
  reader.bind_type(2, types.mk_int(IK_UINT));
  reader.bind_type(3, types.mk_fltpt(FK_FLOAT));
  reader.bind_type(4, types.mk_fltpt(FK_DOUBLE));
  reader.bind_type(5, types.mk_pointer(types.mk_int(IK_CHAR)));
  std::vector<MEMBER> members(2);
  members[0].id = 1;
  members[0].name = "a";
  members[0].type = types.mk_int(IK_INT);
  members[1].id = 2;
  members[1].name = "b";
  members[1].type = types.mk_fltpt(FK_FLOAT);
  members[1].offset = 32;
  reader.bind_type(6, types.mk_struct(TK_STRUCT, "s", 64, 32, std::move(members)));
  reader.bind_type(7, types.mk_int(IK_SHORT));
}

// An internal error of the program context ends the run as a fatal record
// does, instead of exiting.
void internal_error_throws() { throw IcodeFatal("internal error"); }

void read_with(IcodeClient &client, TYPE_PKG &types, const uint8_t *data, size_t size) {
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
  if (!f)
    return;
  if (auto reader = IcodeReader::open(f, client, types)) {
    reader->set_error_stream(null_stream());
    bind_fuzz_types(*reader, types);
    try {
      reader->read_all();
    } catch (const IcodeFatal &) {
      // A fatal record ends the run; the driver would print and exit.
    }
  }
  std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  {
    TYPE_PKG types;
    test::RecordingClient client;
    client.render_trees = false;
    read_with(client, types, data, size);
    if (client.live_nodes != 0)
      std::abort();   // a tree was lost on some path
  }
  {
    ir_terminate = internal_error_throws;
    PROGRAM program;
    read_with(program, program.types(), data, size);
  }
  return 0;
}
