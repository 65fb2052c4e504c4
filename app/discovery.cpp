#include "app/discovery.h"

#include <optional>

#include "io/paths.h"

namespace mpo {

namespace {
constexpr char16_t kEscape = u'\x01';
}  // namespace

Text list_line(const Text& text) {
  if (text.find_first_of(u"\r\n\x01") == Text::npos) return text;
  Text line;
  line.reserve(text.size() + 8);
  for (const char16_t c : text) {
    switch (c) {
      case u'\r': line += {kEscape, u'r'}; break;
      case u'\n': line += {kEscape, u'n'}; break;
      case kEscape: line += {kEscape, kEscape}; break;
      default: line += c;
    }
  }
  return line;
}

Text from_list_line(const Text& line) {
  if (line.find(kEscape) == Text::npos) return line;
  Text text;
  text.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const char16_t next = i + 1 < line.size() ? line[i + 1] : u'\0';
    if (line[i] == kEscape && (next == u'r' || next == u'n' || next == kEscape)) {
      text += next == u'r' ? u'\r' : next == u'n' ? u'\n' : kEscape;
      ++i;
    } else {
      text += line[i];
    }
  }
  return text;
}

namespace {

// The lower-case base name of `name` when its lower-case extension and base
// name pass the filters.
std::optional<Text> matching_base(const Text& name, const Text& name_filter,
                                  const Text& extension_filter) {
  const Text any = u"*";
  const Text extension = text_lower(extension_part(name));
  int64_t base_length = text_length(name) - text_length(extension);
  if (!extension.empty()) --base_length;  // the dot
  const Text base = text_lower(text_left(name, base_length));
  if ((text_equals(extension, extension_filter) || text_equals(extension_filter, any)) &&
      (text_equals(base, name_filter) || text_equals(name_filter, any))) {
    return base;
  }
  return std::nullopt;
}

}  // namespace

int list_mpo_files(FileService& files, const Text& directory, const Text& name_filter,
                   const Text& extension_filter, int depth,
                   std::vector<UnreadableFolder>* unreadable) {
  Text dir = directory;
  if (dir.empty() || dir.back() != u'/') dir += u'/';
  if (!files.examine_directory(depth, dir, u"*.*")) {
    if (unreadable) unreadable->push_back({dir, files.listing_error(depth)});
    return 0;
  }

  int written = 0;
  while (files.next_directory_entry(depth)) {
    const int type = files.directory_entry_type(depth);
    if (type == FileService::kFile) {
      const Text name = files.directory_entry_name(depth);
      if (const auto base = matching_base(name, name_filter, extension_filter)) {
        files.write_line(kListSlot, list_line(dir + name));
        files.write_line(kListSlot, list_line(*base));
        ++written;
      }
    } else if (type == FileService::kDirectory) {
      const Text name = files.directory_entry_name(depth);
      if (name == u"." || name == u"..") continue;
      written += list_mpo_files(files, dir + name + u"/", name_filter, extension_filter,
                                depth + 1, unreadable);
    }
  }
  return written;
}

bool list_mpo_file(FileService& files, const Text& path) {
  const Text name = path.substr(path_part(path).size());
  const auto base = matching_base(name, u"*", u"mpo");
  if (!base) return false;
  files.write_line(kListSlot, list_line(path));
  files.write_line(kListSlot, list_line(*base));
  return true;
}

}  // namespace mpo
