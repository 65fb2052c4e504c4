#include "ui/wx_text.h"

#include <string>

static_assert(sizeof(wchar_t) == 4, "wchar_t holds whole code points");

namespace mpo {

wxString to_wx(const Text& text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      out.push_back(static_cast<wchar_t>(cp));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(static_cast<wchar_t>(0xFFFD));
    } else {
      out.push_back(static_cast<wchar_t>(u));
    }
  }
  return wxString(out);
}

Text from_wx_file_name(const wxString& name) {
  const wxCharBuffer bytes = name.fn_str();
  return from_utf8(std::string_view(bytes.data(), bytes.length()));
}

}  // namespace mpo
