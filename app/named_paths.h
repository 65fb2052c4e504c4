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

// Leaves out the corrected pairs an earlier run wrote (base path +
// "_aligned.mpo" of another entry of this run): converting them again would
// only stack corrections on corrections.
void drop_own_outputs(std::vector<Entry>& entries);

// Keeps only the first of the entries that write the same output names
// (x.mpo and x.MPO in one folder, x.mpo of two named folders below one
// output folder): each later one is reported with the earlier MPO's path
// and is not converted. False when one was dropped.
bool drop_output_clashes(std::vector<Entry>& entries, Reporter& reporter);

// Creates `output_dir` and the folders of the entries' output bases;
// reports a folder that cannot be created once, with the system's reason
// (and none below it), and drops the entries whose outputs would go there.
// False when one failed.
bool make_output_folders(std::vector<Entry>& entries, const Text& output_dir,
                         Reporter& reporter);

}  // namespace mpo
