// Descriptors 0, 1 and 2 before a program opens anything: a program started
// with one of them closed would otherwise get that number for its first
// file, and a message meant for the error stream would land in an output.
#pragma once

namespace mpo {

// Opens /dev/null on every one of descriptors 0, 1 and 2 that is closed.
// False when one stays closed.
bool keep_standard_streams_open();

}  // namespace mpo
