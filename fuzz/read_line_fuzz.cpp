// FileService::read_line over arbitrary file contents: no line holds a
// terminator, and the lines put back together give the file again, up to an
// unfinished multi-byte sequence at its very end.
#include <string>

#include "fuzz_support.h"
#include "io/files.h"

namespace {

bool is_lead(uint8_t b) { return (b & 0xE0) == 0xC0 || (b & 0xF0) == 0xE0 || (b & 0xF8) == 0xF0; }
bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::scratch() + "/lines.txt";
  if (!fuzz::write_file(path, data, size)) return 0;

  mpo::FileService files;
  FUZZ_CHECK(files.open_file(0, mpo::from_utf8(path)) != 0);
  std::string joined;
  size_t lines = 0;
  while (!files.end_of_file(0)) {
    const std::string line = mpo::to_utf8(files.read_line(0));
    FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    joined += line;
    joined += '\n';
    FUZZ_CHECK(++lines <= size);  // every line consumes at least one byte
  }
  files.close_file(0);
  FUZZ_CHECK(files.read_line(0).empty());  // an empty slot reads nothing

  // The file with every terminator (CR LF, CR, LF, NUL) as one LF.
  std::string expected;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    expected += (b == '\r' || b == '\0') ? '\n' : static_cast<char>(b);
  }
  if (expected.empty() || expected.back() == '\n') {
    FUZZ_CHECK(joined == expected);
    return 0;
  }
  // The last line ends at the end of the file; a lead byte there that still
  // waits for continuation bytes is dropped with the ones it has.
  FUZZ_CHECK(joined.size() >= 1 && joined.back() == '\n');
  joined.pop_back();
  FUZZ_CHECK(joined.size() <= expected.size() && expected.compare(0, joined.size(), joined) == 0);
  const std::string dropped = expected.substr(joined.size());
  FUZZ_CHECK(dropped.size() <= 3);
  if (!dropped.empty()) {
    FUZZ_CHECK(is_lead(static_cast<uint8_t>(dropped[0])));
    for (size_t i = 1; i < dropped.size(); ++i)
      FUZZ_CHECK(is_continuation(static_cast<uint8_t>(dropped[i])));
  }
  return 0;
}
