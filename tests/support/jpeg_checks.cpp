#include "tests/support/jpeg_checks.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include "tests/support/process.h"
#include "tests/support/program_texts.h"

namespace mpo::test {

namespace {

// libjpeg in this process: every row read, warnings counted.
bool decodes_here(const fs::path& file) {
  const Bytes data = read_bytes(file);
  if (data.empty()) return false;
  struct Checker {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    jmp_buf jump;
  };
  auto c = std::make_unique<Checker>();
  c->cinfo.err = jpeg_std_error(&c->err);
  c->err.error_exit = [](j_common_ptr ci) { longjmp(*static_cast<jmp_buf*>(ci->client_data), 1); };
  c->err.output_message = [](j_common_ptr) {};
  c->cinfo.client_data = &c->jump;
  if (setjmp(c->jump) != 0) {
    jpeg_destroy_decompress(&c->cinfo);
    return false;
  }
  jpeg_create_decompress(&c->cinfo);
  jpeg_mem_src(&c->cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&c->cinfo, TRUE);
  jpeg_start_decompress(&c->cinfo);
  std::vector<JSAMPLE> row(static_cast<size_t>(c->cinfo.output_width) * c->cinfo.output_components);
  while (c->cinfo.output_scanline < c->cinfo.output_height) {
    JSAMPROW r = row.data();
    jpeg_read_scanlines(&c->cinfo, &r, 1);
  }
  jpeg_finish_decompress(&c->cinfo);
  const bool clean = c->err.num_warnings == 0;
  jpeg_destroy_decompress(&c->cinfo);
  return clean;
}

// The halves must be the MPO's bytes; the composites must decode.
void check_output(const fs::path& path, const std::string& suffix, const Bytes& bytes,
                  const Bytes& mpo) {
  if (suffix == "_L.jpg") {
    EXPECT_TRUE(bytes.size() < mpo.size() && std::equal(bytes.begin(), bytes.end(), mpo.begin()))
        << "left half is not the MPO's start: " << path;
  } else if (suffix == "_R.jpg") {
    EXPECT_TRUE(bytes.size() < mpo.size() &&
                std::equal(bytes.begin(), bytes.end(), mpo.end() - static_cast<long>(bytes.size())))
        << "right half is not the MPO's end: " << path;
  } else {
    EXPECT_TRUE(decodes_completely(path)) << "incomplete JPEG left behind: " << path;
  }
}

}  // namespace

bool decodes_completely(const fs::path& file) {
  static const bool have_djpeg = have_program("djpeg");
  if (!have_djpeg) return decodes_here(file);
  ProcessSpec request;
  request.argv = {"djpeg", file.string()};
  request.capture_out = false;
  return run_process(request).status == 0;
}

Size jpeg_size(const fs::path& file) {
  const Bytes b = read_bytes(file);
  size_t at = 2;
  while (at + 9 < b.size() && b[at] == 0xFF) {
    const uint8_t m = b[at + 1];
    if (m == 0xC0 || m == 0xC1 || m == 0xC2)
      return {(b[at + 7] << 8) | b[at + 8], (b[at + 5] << 8) | b[at + 6]};
    if (m == 0xDA) break;
    at += 2 + ((size_t(b[at + 2]) << 8) | b[at + 3]);
  }
  return {};
}

std::map<fs::path, std::set<std::string>> check_tree(const fs::path& tree,
                                                     const std::map<fs::path, Bytes>& mpos_before,
                                                     const std::set<fs::path>& others_allowed) {
  static const std::vector<std::string> suffixes = output_suffixes();
  std::map<fs::path, std::set<std::string>> outputs;
  std::map<std::string, fs::path> output_names;
  for (const auto& [mpo, bytes] : mpos_before) {
    for (const std::string& suffix : suffixes) output_names[base_of(mpo) + suffix] = mpo;
  }
  for (const auto& [path, bytes] : files_below(tree)) {
    if (auto it = mpos_before.find(path); it != mpos_before.end()) {
      EXPECT_TRUE(bytes == it->second) << "MPO changed: " << path;
      continue;
    }
    if (others_allowed.count(path) != 0) continue;
    auto out = output_names.find(path.string());
    if (out == output_names.end()) {
      ADD_FAILURE() << "unexpected file in the tree: " << path;
      continue;
    }
    const std::string suffix = path.string().substr(base_of(out->second).size());
    outputs[out->second].insert(suffix);
    check_output(path, suffix, bytes, mpos_before.at(out->second));
  }
  for (const auto& [mpo, bytes] : mpos_before) {
    EXPECT_TRUE(fs::exists(mpo)) << "MPO lost: " << mpo;
    const auto o = outputs.find(mpo);
    if (o != outputs.end() && o->second.count("_L.jpg") && o->second.count("_R.jpg")) {
      EXPECT_EQ(read_bytes(base_of(mpo) + "_L.jpg").size() + read_bytes(base_of(mpo) + "_R.jpg").size(),
                bytes.size())
          << "halves do not make up the MPO: " << mpo;
    }
  }
  return outputs;
}

void expect_empty(const fs::path& dir) {
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  EXPECT_TRUE(left.empty()) << dir << " holds " << ::testing::PrintToString(left);
}

}  // namespace mpo::test
