// The recursive walk that lists every MPO below a directory into the list
// file (two lines per file: full path, lower-case base name).
#pragma once

#include <vector>

#include "io/files.h"
#include "io/text.h"

namespace mpo {

// File slot of the list file; it must be open for writing.
constexpr int kListSlot = 0;

// A list-file line for `text`, and the text back from such a line. Linux
// file names may hold line breaks, which would split the line: CR and LF
// are written as SOH 'r' and SOH 'n', and SOH itself as SOH SOH, so that
// every name comes back as it was. Other names are written unchanged.
Text list_line(const Text& text);
Text from_list_line(const Text& line);

// A folder that could not be listed, with the reason of the attempt
// (FileService::listing_error).
struct UnreadableFolder {
  Text path;
  int error = 0;
};

// Walks `directory` depth-first in listing order, using directory slot
// `depth` for this level, and writes every file whose lower-case extension
// equals `extension_filter` (or "*") and whose lower-case base name equals
// `name_filter` (or "*") to the list file. Links to directories are not
// entered. A directory that cannot be listed contributes nothing; it is
// added to `unreadable` when that is given. Returns the number of files
// written.
int list_mpo_files(FileService& files, const Text& directory, const Text& name_filter,
                   const Text& extension_filter, int depth,
                   std::vector<UnreadableFolder>* unreadable = nullptr);

// Writes one named file to the list file when its extension is "mpo" in any
// letter case; false (nothing written) for any other name.
bool list_mpo_file(FileService& files, const Text& path);

}  // namespace mpo
