// Toolkit-free pieces of the windows: font heights, message text and the
// filter list of the open-file requester.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/text.h"

namespace mpo {

// Display resolution assumed when none can be read.
constexpr int kDefaultDpi = 96;
// Longest path the open-file requester hands back, in UTF-16 units.
constexpr int64_t kMaxRequesterPath = 259;

// Character height in pixels (em height, without internal leading) of a font
// of `points` points on a display with `dpi` pixels per inch:
// points * dpi / 72, rounded half away from zero. A dpi of 0 or less counts
// as kDefaultDpi.
int font_pixel_height(int points, int dpi);

// Message text as it is to be displayed: every CR LF and every lone CR
// becomes a line feed.
Text message_display_text(const Text& text);

struct FilterEntry {
  Text label;
  Text filter;  // one or more patterns separated by ';'
};

// "label|filter|label|filter...": the label/filter pairs in order. A label
// without a filter at the end is dropped.
std::vector<FilterEntry> parse_pattern_list(const Text& patterns);

// One filter rewritten for a case-sensitive matcher with character classes
// so that it matches what a case-insensitive file-name match would: letters
// become "[xX]", '[' becomes "[[]", and "*.*" (every file, with or without a
// dot) becomes "*". Patterns separated by ';' are rewritten one by one.
Text case_insensitive_filter(const Text& filter);

// The toolkit's wildcard string ("label|pattern|label|pattern") for a
// pattern list, with every filter made case-insensitive.
Text requester_wildcard(const Text& patterns);

// `index` limited to the entries of the list (0 when there are none).
int requester_filter_index(const Text& patterns, int index);

// The requester's answer as the program receives it: empty when it does not
// fit in kMaxRequesterPath units.
Text requester_result(const Text& path);

}  // namespace mpo
