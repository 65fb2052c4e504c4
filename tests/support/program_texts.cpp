#include "tests/support/program_texts.h"

#include "app/texts.h"
#include "io/text.h"

namespace mpo::test {

std::string U8(const char16_t* text) { return to_utf8(text); }

std::string cli_line(const char16_t* title, const char16_t* text) {
  return U8(title) + ": " + U8(text);
}

std::vector<std::string> output_suffixes() {
  std::vector<std::string> out;
  for (const char16_t* suffix : texts::kOutputSuffixes) out.push_back(U8(suffix));
  return out;
}

}  // namespace mpo::test
