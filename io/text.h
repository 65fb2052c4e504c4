// Text: UTF-16 code units, 1-based positions, clamping rules for every
// operation; UTF-8 conversion at the file-system boundary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mpo {

using Text = std::u16string;

// UTF-8 bytes to UTF-16. Bytes that are not part of a valid UTF-8 sequence
// become the lone surrogates U+DC80..U+DCFF (one per byte), so that names
// which are not valid UTF-8 survive the round trip through to_utf8.
Text from_utf8(std::string_view bytes);
// UTF-16 to UTF-8. Lone surrogates U+DC80..U+DCFF turn back into their
// single raw byte; any other unpaired surrogate becomes U+FFFD.
std::string to_utf8(const Text& text);
// Shorthand for literals in code and tests: u8 source text to Text.
inline Text T(std::string_view utf8) { return from_utf8(utf8); }

int64_t text_length(const Text& text);
Text text_left(const Text& text, int64_t n);
Text text_right(const Text& text, int64_t n);
Text text_mid(const Text& text, int64_t start, int64_t n);
int64_t text_find(const Text& text, const Text& search, int64_t start);
Text text_upper(const Text& text);
Text text_lower(const Text& text);
Text text_pad_right(const Text& text, int64_t n, const Text& pad);
int text_first_code(const Text& text);
bool text_equals(const Text& a, const Text& b);

// Single-unit, length-preserving case mapping ('ß' has no single-unit
// upper case and stays).
char16_t unit_upper(char16_t unit);
char16_t unit_lower(char16_t unit);

}  // namespace mpo
