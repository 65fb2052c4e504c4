#include "io/text.h"

#include <algorithm>

namespace mpo {

namespace {

bool is_cont(uint8_t b) { return (b & 0xC0) == 0x80; }

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

Text from_utf8(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b = s[i];
    uint32_t cp = 0;
    size_t len = 0;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n && is_cont(s[i + 1])) {
      cp = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
      len = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < n && is_cont(s[i + 1]) && is_cont(s[i + 2])) {
      cp = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
      // Overlong forms and encoded surrogates are not valid UTF-8.
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) len = 3;
    } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && is_cont(s[i + 1]) && is_cont(s[i + 2]) &&
               is_cont(s[i + 3])) {
      cp = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
           (s[i + 3] & 0x3Fu);
      if (cp >= 0x10000 && cp <= 0x10FFFF) len = 4;
    }
    if (len == 0) {
      // Not valid UTF-8: keep the raw byte as a lone low surrogate.
      out.push_back(static_cast<char16_t>(0xDC00 + b));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string to_utf8(const Text& text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put_utf8(out, 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out.push_back(static_cast<char>(u - 0xDC00));  // a raw byte kept by from_utf8
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      put_utf8(out, 0xFFFD);
    } else {
      put_utf8(out, u);
    }
  }
  return out;
}

int64_t text_length(const Text& text) { return static_cast<int64_t>(text.size()); }

Text text_left(const Text& text, int64_t n) {
  if (n <= 0) return {};
  return text.substr(0, static_cast<size_t>(std::min<int64_t>(n, text_length(text))));
}

Text text_right(const Text& text, int64_t n) {
  if (n <= 0) return {};
  const int64_t len = text_length(text);
  const int64_t k = std::min(n, len);
  return text.substr(static_cast<size_t>(len - k));
}

Text text_mid(const Text& text, int64_t start, int64_t n) {
  if (n <= 0) return {};
  if (start < 1) start = 1;
  const int64_t len = text_length(text);
  if (start > len) return {};
  const int64_t k = std::min(n, len - (start - 1));
  return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(k));
}

int64_t text_find(const Text& text, const Text& search, int64_t start) {
  if (text.empty() || search.empty()) return 0;
  const int64_t len = text_length(text);
  if (start > len) return 0;
  // start - 1 would overflow for the most negative start.
  const int64_t offset = start < 1 ? 0 : start - 1;
  const size_t pos = text.find(search, static_cast<size_t>(offset));
  return pos == Text::npos ? 0 : static_cast<int64_t>(pos) + 1;
}

char16_t unit_upper(char16_t u) {
  if (u >= u'a' && u <= u'z') return static_cast<char16_t>(u - 32);
  if (u < 0xB5) return u;
  if (u == 0xB5) return 0x039C;  // micro sign
  if ((u >= 0xE0 && u <= 0xFE && u != 0xF7)) return static_cast<char16_t>(u - 32);
  if (u == 0xFF) return 0x0178;
  // Latin Extended-A: pairs upper/lower at even/odd, with a shifted run.
  if ((u >= 0x0100 && u <= 0x012F) || (u >= 0x0132 && u <= 0x0137) ||
      (u >= 0x014A && u <= 0x0177)) {
    return (u & 1) ? static_cast<char16_t>(u - 1) : u;
  }
  if ((u >= 0x0139 && u <= 0x0148) || (u >= 0x0179 && u <= 0x017E)) {
    return (u & 1) ? u : static_cast<char16_t>(u - 1);
  }
  if (u >= 0x03B1 && u <= 0x03C9 && u != 0x03C2) return static_cast<char16_t>(u - 32);  // Greek
  if (u >= 0x0430 && u <= 0x044F) return static_cast<char16_t>(u - 32);                  // Cyrillic
  if (u >= 0x0450 && u <= 0x045F) return static_cast<char16_t>(u - 80);
  return u;
}

char16_t unit_lower(char16_t u) {
  if (u >= u'A' && u <= u'Z') return static_cast<char16_t>(u + 32);
  if (u < 0xC0) return u;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char16_t>(u + 32);
  if (u == 0x0178) return 0xFF;
  if ((u >= 0x0100 && u <= 0x012F) || (u >= 0x0132 && u <= 0x0137) ||
      (u >= 0x014A && u <= 0x0177)) {
    return (u & 1) ? u : static_cast<char16_t>(u + 1);
  }
  if ((u >= 0x0139 && u <= 0x0148) || (u >= 0x0179 && u <= 0x017E)) {
    return (u & 1) ? static_cast<char16_t>(u + 1) : u;
  }
  if (u >= 0x0391 && u <= 0x03A9 && u != 0x03A2) return static_cast<char16_t>(u + 32);
  if (u >= 0x0410 && u <= 0x042F) return static_cast<char16_t>(u + 32);
  if (u >= 0x0400 && u <= 0x040F) return static_cast<char16_t>(u + 80);
  return u;
}

Text text_upper(const Text& text) {
  Text out(text);
  for (auto& u : out) u = unit_upper(u);
  return out;
}

Text text_lower(const Text& text) {
  Text out(text);
  for (auto& u : out) u = unit_lower(u);
  return out;
}

Text text_pad_right(const Text& text, int64_t n, const Text& pad) {
  if (n <= 0 || pad.empty()) return {};
  Text out = text_left(text, n);
  out.append(static_cast<size_t>(n - text_length(out)), pad[0]);
  return out;
}

int text_first_code(const Text& text) { return text.empty() ? 0 : static_cast<int>(text[0]); }

bool text_equals(const Text& a, const Text& b) { return a == b; }

}  // namespace mpo
