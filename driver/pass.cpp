// driver/pass.cpp - the registry's one failure.
#include "driver/pass.h"

#include "driver/run.h"

namespace zor {

void invalid_registry_subscript() { terminate_abnormally("invalid vector<T> subscript"); }

} // namespace zor
