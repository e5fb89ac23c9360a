// ir/tree_equal.h - structural comparison of expression trees and the
// side-effect test that rewrites share.
#pragma once

namespace zor {

class NODE;

// True when the two trees have the same shape, operators, types and leaf
// values (symbols, constants bit for bit, labels, members, call numbers).
bool trees_equal(const NODE *a, const NODE *b);

// True when evaluating the tree may change state or trap in a way the
// program can see: assignments, calls, control transfers, other effects,
// and reads of volatile objects.
bool has_side_effects(const NODE *n);

} // namespace zor
