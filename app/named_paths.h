// The command line's named paths: what each one adds to the list file, where
// the outputs of its MPOs go, and one conversion per MPO however often it
// was reached.
#pragma once

#include <vector>

#include "app/batch.h"
#include "app/front_end.h"
#include "io/files.h"
#include "io/text.h"

namespace mpo {

// One named path's share of the list file, in list order: `count` entries
// whose paths below `root` the outputs keep.
struct ListedPath {
  Text root;  // the folder, ending in '/'; for a named file its folder
  int count = 0;
};

// Lists every named path into the list file (slot 0, open for writing): a
// folder with all MPOs in and below it, a file on its own. Reports a named
// file that is no MPO, a path that does not exist and a folder that cannot
// be read (with the system's reason when `detailed`); `failed` is set then.
std::vector<ListedPath> list_named_paths(FileService& files, Reporter& reporter,
                                         const std::vector<Text>& paths, bool detailed,
                                         bool& failed);

// Sets each entry's output base below `output_dir` at its path relative to
// the named path it was listed under. The entries are in list order.
void place_outputs(std::vector<Entry>& entries, const std::vector<ListedPath>& listed,
                   const Text& output_dir);

// Keeps only the first entry of every MPO file (the same file reached by two
// names, links included).
void drop_repeats(std::vector<Entry>& entries);

// Creates the folders of the entries' output bases; reports each one that
// cannot be created, with the system's reason. False when one failed.
bool make_output_folders(const std::vector<Entry>& entries, Reporter& reporter);

}  // namespace mpo
