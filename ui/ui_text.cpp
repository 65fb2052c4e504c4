#include "ui/ui_text.h"

#include <cstdlib>

namespace mpo {

int font_pixel_height(int points, int dpi) {
  if (dpi <= 0) dpi = kDefaultDpi;
  const int64_t product = static_cast<int64_t>(points) * dpi;
  const int64_t magnitude = (std::llabs(product) + 36) / 72;
  return static_cast<int>(product < 0 ? -magnitude : magnitude);
}

Text message_display_text(const Text& text) {
  Text out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r') {
      out.push_back(u'\n');
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<FilterEntry> parse_pattern_list(const Text& patterns) {
  std::vector<Text> fields;
  size_t start = 0;
  while (start <= patterns.size()) {
    const size_t bar = patterns.find(u'|', start);
    const size_t end = bar == Text::npos ? patterns.size() : bar;
    fields.push_back(patterns.substr(start, end - start));
    if (bar == Text::npos) break;
    start = bar + 1;
  }
  std::vector<FilterEntry> entries;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) entries.push_back({fields[i], fields[i + 1]});
  return entries;
}

namespace {

Text case_insensitive_pattern(const Text& pattern) {
  if (pattern == u"*.*") return u"*";
  Text out;
  for (const char16_t c : pattern) {
    const char16_t lower = unit_lower(c);
    const char16_t upper = unit_upper(c);
    if (c == u'[') {
      out += u"[[]";
    } else if (lower != upper) {
      out += u'[';
      out += lower;
      out += upper;
      out += u']';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

Text case_insensitive_filter(const Text& filter) {
  Text out;
  size_t start = 0;
  while (true) {
    const size_t semicolon = filter.find(u';', start);
    const size_t end = semicolon == Text::npos ? filter.size() : semicolon;
    out += case_insensitive_pattern(filter.substr(start, end - start));
    if (semicolon == Text::npos) break;
    out += u';';
    start = semicolon + 1;
  }
  return out;
}

Text requester_wildcard(const Text& patterns) {
  Text out;
  for (const FilterEntry& entry : parse_pattern_list(patterns)) {
    if (!out.empty()) out += u'|';
    out += entry.label;
    out += u'|';
    out += case_insensitive_filter(entry.filter);
  }
  return out;
}

int requester_filter_index(const Text& patterns, int index) {
  const int count = static_cast<int>(parse_pattern_list(patterns).size());
  if (index < 0 || index >= count) return 0;
  return index;
}

Text requester_result(const Text& path) {
  if (text_length(path) > kMaxRequesterPath) return Text();
  return path;
}

}  // namespace mpo
