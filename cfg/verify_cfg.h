// cfg/verify_cfg.h - the flow-graph verifier run after every pass in test
// and debug runs.
//
// Checks that successor and predecessor lists agree both ways and match the
// labels of each block's last statement, that every block ends in its one
// control statement, that labels point at the blocks that hold them, that
// the dfn chain is the reverse postorder of the depth-first walk and
// numbered 1..k, and (when loops are built) that each block's loop and
// depth agree with the loop tree.
#pragma once

#include <string>
#include <vector>

namespace zor {

class FUNINFO;

// The problems found, at most `limit`; empty for a valid graph (or for a
// function without one).
std::vector<std::string> check_flow_graph(FUNINFO &fi, size_t limit = 20);

} // namespace zor
