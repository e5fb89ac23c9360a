// driver/pipeline.h - the pass list and the per-function driver.
#pragma once

namespace zor {

class IcodeReader;
class PROGRAM;

// Builds the ordered pass list; with filtering on, the active list follows a
// forced pass order when one is given.
void build_pass_list(bool filtering);

// Reads the whole program through `reader` into `program` and runs every
// function through its pass queue, writing each function at its end.
void run_pipeline(IcodeReader &reader, PROGRAM &program);

} // namespace zor
