// The names a resource script may use without defining them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace rescomp {

// Name -> value of every style, version, language and dialog-result constant a script may name.
const std::map<std::string, int64_t>& Builtins();

} // namespace rescomp
