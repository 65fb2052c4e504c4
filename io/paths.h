// Path parts: directory part and extension of a path given as Text.
#pragma once

#include "io/text.h"

namespace mpo {

// The path up to and including its last '/' or '\'; empty when there is none.
// A leading double quote is skipped; the scan stops at the first '|'.
Text path_part(const Text& path);

// The characters after the last dot of the last path component, without the
// dot, case unchanged. Empty when there is no dot, when the dot is the first
// character or follows a separator directly, or when a space, '/' or '\'
// comes after the last dot. Ends at the end of the text or at a double quote.
Text extension_part(const Text& path);

}  // namespace mpo
