// --join: the left and the right view, two JPEG files, into one MPO.
#pragma once

#include <ostream>

#include "cli/arguments.h"

namespace mpo {

// Reads both JPEGs, joins them and writes the MPO at `join.out` whole or not
// at all. Refuses (status 1, German message on `err`) an output that is one
// of the inputs, also through links, an input that cannot be read or is no
// JPEG, and an output that cannot be written. 0 when the MPO was written.
int run_join(const JoinRequest& join, std::ostream& err);

}  // namespace mpo
