// One whole entry of the batch on an arbitrary MPO with every option set,
// the command line's too: split (by the MP index where the byte search
// finds nothing), decode, composites, Exif image, anaglyph, cross-eyed pair
// and the lossless side-by-side (not the TV frame: its 1920 x 1080 canvas
// would slow every run down many times over, and its size does not depend
// on the bytes). Whatever the bytes, the MPO stays as it was, the
// halves are its exact bytes, every other output is either a complete JPEG
// or reported, and nothing else appears.
#include <dirent.h>

#include <cstring>
#include <set>
#include <vector>

#include "app/batch.h"
#include "mpo/separator.h"
#include "mpo/mp_index.h"
#include "app/texts.h"
#include "fuzz_support.h"
#include "image/jpeg_codec.h"

namespace {

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.insert(e->d_name);
    }
    ::closedir(d);
  }
  return names;
}

// The entry's outputs among `names`: both halves exactly when the entry
// did not stop, and every composite present a JPEG this program reads back
// whole. Returns how many there are; counts the composites missing.
size_t count_outputs(const std::string& dir, const std::set<std::string>& names,
                     const mpo::EntryResult& result, int& missing_composites) {
  size_t present_count = 0;
  std::vector<const char16_t*> suffixes(mpo::texts::kOutputSuffixes.begin(),
                                        mpo::texts::kOutputSuffixes.end());
  for (const char16_t* extra :
       {mpo::texts::kAnaglyphSuffix, mpo::texts::kCrossSuffix, mpo::texts::kLosslessSuffix}) {
    suffixes.push_back(extra);
  }
  for (const char16_t* suffix : suffixes) {
    const std::string name = "2013_FUZZ_1" + mpo::to_utf8(suffix);
    const bool present = names.count(name) != 0;
    present_count += present ? 1 : 0;
    const bool half = suffix == mpo::texts::kLeftSuffix || suffix == mpo::texts::kRightSuffix;
    if (half) {
      FUZZ_CHECK(present == (result.stop == mpo::StopReason::none));
      continue;
    }
    if (result.stop != mpo::StopReason::none) {
      FUZZ_CHECK(!present);
      continue;
    }
    if (!present) {
      ++missing_composites;
      continue;
    }
    mpo::ImageService check;
    mpo::register_jpeg_decoder(check);
    FUZZ_CHECK(check.load_image(0, mpo::from_utf8(dir + "/" + name)) != 0);
  }
  return present_count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Keep the decodes small (see kMaxFuzzPixels): a whole entry decodes two
  // halves and encodes three composites, and none of its logic depends on
  // the picture being large.
  constexpr uint64_t kLimit = uint64_t{1} << 16;
  // With the MP index asked for, a valid stereo index decides; the byte
  // search is the fallback.
  auto sep = mpo::stereo_second_image_offset({data, size});
  if (!sep) sep = mpo::find_separator(data, static_cast<int64_t>(size));
  if (sep && (!fuzz::small_enough(data, static_cast<size_t>(*sep), kLimit) ||
              !fuzz::small_enough(data + *sep, size - static_cast<size_t>(*sep), kLimit)))
    return 0;

  const std::string dir = fuzz::scratch() + "/entry";
  ::mkdir(dir.c_str(), 0700);
  // A year-prefixed name, so that the Software rewrite runs too.
  const std::string mpo_path = dir + "/2013_FUZZ_1.mpo";
  if (!fuzz::write_file(mpo_path, data, size)) return 0;

  mpo::FileService files;
  mpo::ImageService images;
  mpo::register_jpeg_decoder(images);
  mpo::register_jpeg_encoder(images);
  fuzz::SilentReporter ui;
  mpo::OptionFlags flags{1, 1, 1, 1};
  mpo::ExtraOutputs extra;
  extra.anaglyph = extra.cross = extra.lossless = extra.mp_index = true;
  extra.quality = size > 0 ? 1 + data[size - 1] % 100 : 70;
  mpo::EntryProcessor processor(files, images, ui, extra);
  const mpo::EntryResult result =
      processor.process({mpo::from_utf8(mpo_path), u"2013_fuzz_1", mpo::Text()}, flags);

  const fuzz::Bytes after = fuzz::read_file(mpo_path);
  FUZZ_CHECK(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0));

  const std::set<std::string> names = names_in(dir);
  int missing_composites = 0;
  const size_t expected_names = 1 + count_outputs(dir, names, result, missing_composites);
  FUZZ_CHECK(names.size() == expected_names);  // nothing but the outputs
  if (result.stop == mpo::StopReason::none) {
    FUZZ_CHECK(sep.has_value());
    const fuzz::Bytes l = fuzz::read_file(dir + "/2013_FUZZ_1_L.jpg");
    const fuzz::Bytes r = fuzz::read_file(dir + "/2013_FUZZ_1_R.jpg");
    FUZZ_CHECK(static_cast<int64_t>(l.size()) == *sep && l.size() + r.size() == size);
    FUZZ_CHECK(std::memcmp(l.data(), data, l.size()) == 0 &&
               std::memcmp(r.data(), data + l.size(), r.size()) == 0);
    // One message for each composite that is missing, and a failure result.
    FUZZ_CHECK(ui.messages == missing_composites);
    FUZZ_CHECK(result.output_failed == (missing_composites > 0));
  } else {
    FUZZ_CHECK(ui.messages == 1);  // the stop and its reason
  }
  for (const std::string& name : names) {
    if (name != "2013_FUZZ_1.mpo") ::unlink((dir + "/" + name).c_str());
  }
  return 0;
}
