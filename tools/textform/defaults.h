// tools/textform/defaults.h - the values zas fills in for fields the text
// leaves out, and which zdis therefore leaves out when they match.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/textform/context.h"
#include "tools/textform/forms.h"
#include "tools/textform/model.h"

namespace zor::text {

// The default of field `ff` of `form` in a record whose other fields are
// `fields` (placed by `slots`, see field_slots).  False for fields whose
// default is not a plain value: positional fields, counts taken from what
// follows, initializer positions taken from the layout.
bool field_default(const Form &form, size_t ff, const std::vector<Field> &fields,
                   const std::vector<int> &slots, const Context &ctx, Field &out);

// Same encoded value.
bool same_field(const Field &a, const Field &b);

} // namespace zor::text
