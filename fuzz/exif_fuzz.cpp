// The Software rewrite on arbitrary segments and the Exif splice with
// arbitrary side-by-side files.
//
// Input: one flag byte (bit 0 token flag, bit 1 side-by-side written), a
// big-endian 16-bit segment length n, n segment bytes, a token length t,
// t token bytes (UTF-8), and the rest as the side-by-side file.
#include <algorithm>
#include <cstring>

#include "app/exif_image.h"
#include "fuzz_support.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  size_t take(size_t n) {
    const size_t k = std::min(n, size - at);
    at += k;
    return k;
  }
  int byte() { return at < size ? data[at++] : 0; }
};

// Checks one rewrite: the segment keeps its size and its length field, and
// every byte that changed now holds a character of the Software text or a
// blank (the value is padded with blanks to its count).
void check_rewrite(const fuzz::Bytes& before, const mpo::MemoryBlock& after,
                   const mpo::Text& software) {
  FUZZ_CHECK(static_cast<size_t>(after.size()) == before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    const uint8_t b = after.data()[i];
    if (b == before[i]) continue;
    FUZZ_CHECK(i >= 2);
    bool from_text = b == ' ';
    for (char16_t c : software) from_text = from_text || (c & 0xFF) == b;
    FUZZ_CHECK(from_text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const int flags = in.byte();
  const size_t n = static_cast<size_t>((in.byte() << 8) | in.byte());
  const size_t segment_at = in.at;
  const size_t segment_size = in.take(n);
  const size_t token_size = static_cast<size_t>(in.byte());
  const size_t token_at = in.at;
  const size_t token_taken = in.take(token_size);
  const uint8_t* sbs = data + in.at;
  const size_t sbs_size = size - in.at;

  mpo::NameToken name;
  name.flag = (flags & 1) != 0;
  name.token = mpo::from_utf8(
      std::string_view(reinterpret_cast<const char*>(data + token_at), token_taken));
  const mpo::Text software = mpo::software_text(name.token);
  FUZZ_CHECK(software.size() == 16);

  // The rewrite alone.
  const fuzz::Bytes original(data + segment_at, data + segment_at + segment_size);
  mpo::MemoryBlock segment = mpo::memory_allocate(static_cast<int64_t>(segment_size));
  if (segment) std::memcpy(segment.data(), original.data(), segment_size);
  const bool rewritten = mpo::rewrite_software(segment, software);
  if (segment) check_rewrite(original, segment, software);
  if (!rewritten && segment) FUZZ_CHECK(std::memcmp(segment.data(), original.data(), segment_size) == 0);

  // The splice, from the original segment again.
  if (segment) std::memcpy(segment.data(), original.data(), segment_size);
  const std::string dir = fuzz::scratch();
  const std::string sbs_path = dir + "/x_sbs.jpg";
  const std::string out_path = dir + "/x_EXIF.jpg";
  if (!fuzz::write_file(sbs_path, sbs, sbs_size)) return 0;
  mpo::FileService files;
  fuzz::SilentReporter ui;
  const bool sbs_written = (flags & 2) != 0;
  const bool ok = mpo::write_exif_image(files, ui, mpo::from_utf8(dir + "/x"), segment, name,
                                        sbs_written);
  const bool layout = sbs_size >= 22 && sbs[0] == 0xFF && sbs[1] == 0xD8 && sbs[2] == 0xFF &&
                      sbs[3] == 0xE0 && sbs[20] == 0xFF && sbs[21] == 0xDB;
  FUZZ_CHECK(ok == (sbs_written && layout && segment_size > 0));
  if (ok) {
    FUZZ_CHECK(ui.messages == 0);
    // SOI, APP1 marker, the segment (rewritten for a set token flag), the
    // rest from the DQT on; the caller's segment stays as it was.
    FUZZ_CHECK(std::memcmp(segment.data(), original.data(), segment_size) == 0);
    if (name.flag) mpo::rewrite_software(segment, software);
    const fuzz::Bytes out = fuzz::read_file(out_path);
    FUZZ_CHECK(out.size() == sbs_size + segment_size - 16);
    FUZZ_CHECK(out[0] == 0xFF && out[1] == 0xD8 && out[2] == 0xFF && out[3] == 0xE1);
    FUZZ_CHECK(std::memcmp(out.data() + 4, segment.data(), segment_size) == 0);
    FUZZ_CHECK(std::memcmp(out.data() + 4 + segment_size, sbs + 20, sbs_size - 20) == 0);
  } else {
    FUZZ_CHECK(ui.messages == 1 && !fuzz::exists(out_path));
  }
  ::unlink(out_path.c_str());
  return 0;
}
