// Path parts: directory part and extension of a path given as Text. Only
// '/' separates the parts of a path; '\', '|' and '"' are ordinary
// characters of a file name on this platform.
#pragma once

#include "io/text.h"

namespace mpo {

// The path up to and including its last '/'; empty when there is none.
Text path_part(const Text& path);

// The characters after the last dot of the last path component, without the
// dot, case unchanged. Empty when there is no dot, when the dot is the first
// character of the component, or when a space comes after the last dot.
Text extension_part(const Text& path);

}  // namespace mpo
