#include "cli/terminal_text.h"

namespace mpo {

namespace {

// The code point of the UTF-8 sequence at `s[i]` and its length; length 0
// for a byte that starts no valid sequence.
std::pair<char32_t, size_t> decode(const std::string& s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  size_t length = 0;
  char32_t code = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) length = 2, code = lead & 0x1F, least = 0x80;
  else if ((lead & 0xF0) == 0xE0) length = 3, code = lead & 0x0F, least = 0x800;
  else if ((lead & 0xF8) == 0xF0) length = 4, code = lead & 0x07, least = 0x10000;
  else return {0, 0};
  if (i + length > s.size()) return {0, 0};
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < least || code > 0x10FFFF || surrogate) return {0, 0};
  return {code, length};
}

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string harmless(const std::string& utf8, bool keep_line_feeds) {
  std::string shown;
  shown.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto [code, length] = decode(utf8, i);
    if (length == 0) {
      shown += '?';
      ++i;
      continue;
    }
    const bool kept = !is_control(code) || (keep_line_feeds && code == U'\n');
    shown += kept ? utf8.substr(i, length) : std::string("?");
    i += length;
  }
  return shown;
}

}  // namespace mpo
