// mpo-fuzz-seeds ROOT: writes the seed corpora of the fuzz targets into
// ROOT/<target>/: generated MPOs in every variant, JPEG halves in the
// colour spaces and codings libjpeg reads, Exif splice inputs and texts.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "image/image_service.h"
#include "image/jpeg_codec.h"
#include "tools/mpogen/jpeg_stream.h"
#include "tools/mpogen/mpogen.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_root + "/" + target;
  ::mkdir(dir.c_str(), 0755);
  if (!mpogen::write_file(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "mpo-fuzz-seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    std::exit(1);
  }
}

void put_text(const std::string& target, const std::string& name, const std::string& text) {
  put(target, name, Bytes(text.begin(), text.end()));
}

// Seed streams are small: 24 x 16 unless a recipe says otherwise.
struct JpegRecipe : mpogen::JpegSettings {
  JpegRecipe() {
    width = 24;
    height = 16;
  }
};

// A seed that libjpeg refuses to write ends the tool: the corpus would
// silently lack it.
Bytes encode(const JpegRecipe& s) {
  const Bytes jpeg =
      mpogen::encode_jpeg(s, mpogen::ramp_samples(s.width, s.height, s.components, 7, 13).data());
  if (jpeg.empty()) {
    std::fprintf(stderr, "mpo-fuzz-seeds: libjpeg refused a %dx%d stream\n", s.width, s.height);
    std::exit(1);
  }
  return jpeg;
}

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// A side-by-side file as this program's encoder writes it.
Bytes side_by_side(int width, int height) {
  mpo::ImageService images;
  mpo::register_jpeg_encoder(images);
  images.create_image(5, width, height);
  const mpo::PixelView view = images.view(5);
  for (int64_t y = 0; y < height; ++y)
    for (int64_t x = 0; x < 3 * width; ++x) view.row(y)[x] = static_cast<uint8_t>(x * 3 + y * 5);
  const std::string path = g_root + "/.sbs.jpg";
  if (images.save_image(5, mpo::from_utf8(path), mpo::kJpegEncoderId) == 0) {
    std::fprintf(stderr, "mpo-fuzz-seeds: cannot encode the side-by-side seed\n");
    std::exit(1);
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  Bytes bytes;
  for (int c; f != nullptr && (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  if (f != nullptr) std::fclose(f);
  ::unlink(path.c_str());
  return bytes;
}

// flags, segment length, segment, token length, token, side-by-side file.
Bytes exif_input(int flags, const Bytes& segment, const std::string& token, const Bytes& sbs) {
  Bytes in{static_cast<uint8_t>(flags), static_cast<uint8_t>(segment.size() >> 8),
           static_cast<uint8_t>(segment.size() & 0xFF)};
  in.insert(in.end(), segment.begin(), segment.end());
  in.push_back(static_cast<uint8_t>(token.size()));
  in.insert(in.end(), token.begin(), token.end());
  in.insert(in.end(), sbs.begin(), sbs.end());
  return in;
}

// A join's input: the left input's length in four bytes, the halves.
Bytes join_input(const mpogen::Mpo& mpo) {
  const auto left = static_cast<uint32_t>(mpo.separator);
  Bytes in = {static_cast<uint8_t>(left >> 24), static_cast<uint8_t>(left >> 16), static_cast<uint8_t>(left >> 8),
              static_cast<uint8_t>(left)};
  in.insert(in.end(), mpo.bytes.begin(), mpo.bytes.end());
  return in;
}

// MPOs: every variant, small.
void put_mpo_seeds(const mpogen::Options& small) {
  for (mpogen::Variant v : mpogen::kAllVariants) {
    mpogen::Options o = small;
    o.variant = v;
    const mpogen::Mpo mpo = mpogen::make_mpo(o);
    const std::string name = std::string(mpogen::variant_name(v)) + ".mpo";
    put("split_fuzz", name, mpo.bytes);
    put("entry_fuzz", name, mpo.bytes);
    put("mp_index_fuzz", name, mpo.bytes);
    put("join_fuzz", name, join_input(mpo));
  }
  {
    mpogen::Options o = small;
    o.width = 17, o.height = 9, o.maker_note_bytes = 0, o.software_field_size = 32;
    const Bytes odd = mpogen::make_mpo(o).bytes;
    put("split_fuzz", "odd_short_exif.mpo", odd);
    put("entry_fuzz", "odd_short_exif.mpo", odd);
    put("split_fuzz", "hundred_bytes.mpo", Bytes(odd.begin(), odd.begin() + 100));
  }
}

struct NamedRecipe {
  const char* name;
  JpegRecipe recipe;
};

// Streams in the colour spaces and codings libjpeg reads.
std::vector<NamedRecipe> decode_recipes() {
  std::vector<NamedRecipe> streams;
  streams.push_back({"baseline.jpg", {}});
  {
    JpegRecipe s;
    s.components = 1, s.in_space = JCS_GRAYSCALE;
    streams.push_back({"grey.jpg", s});
  }
  {
    JpegRecipe s;
    s.progressive = true;
    streams.push_back({"progressive.jpg", s});
  }
  {
    JpegRecipe s;
    s.arithmetic = true;
    streams.push_back({"arithmetic.jpg", s});
  }
  {
    JpegRecipe s;
    s.restart_rows = 1, s.full_chroma = true, s.width = 17, s.height = 9;
    streams.push_back({"restart_444_odd.jpg", s});
  }
  {
    JpegRecipe s;
    s.components = 4, s.in_space = JCS_CMYK;
    streams.push_back({"cmyk.jpg", s});
  }
  {
    JpegRecipe s;
    s.components = 4, s.in_space = JCS_CMYK, s.jpeg_space = JCS_YCCK;
    streams.push_back({"ycck.jpg", s});
  }
  {
    JpegRecipe s;
    s.components = 2, s.in_space = JCS_UNKNOWN;
    streams.push_back({"two_components.jpg", s});
  }
  {
    JpegRecipe s;
    s.width = 1, s.height = 1;
    streams.push_back({"one_pixel.jpg", s});
  }
  return streams;
}

// JPEG halves and streams in the colour spaces and codings libjpeg reads.
void put_decode_seeds(const mpogen::Options& small) {
  const mpogen::Mpo mpo = mpogen::make_mpo(small);
  const Bytes left(mpo.bytes.begin(), mpo.bytes.begin() + static_cast<long>(mpo.separator));
  const Bytes right(mpo.bytes.begin() + static_cast<long>(mpo.separator), mpo.bytes.end());
  put("decode_fuzz", "left_half.jpg", left);
  put("decode_fuzz", "right_half.jpg", right);
  mpogen::Options app0 = small;
  app0.variant = mpogen::Variant::app0_first;
  put("decode_fuzz", "jfif_half.jpg", mpogen::make_half(app0, 0));
  for (const NamedRecipe& n : decode_recipes()) put("decode_fuzz", n.name, encode(n.recipe));
}

// Frame headers as the entry budget reads them: every coding and colour
// space, stray and fill bytes between segments, an empty comment segment
// (length 0, which libjpeg steps over) before a progressive frame.
void put_frame_header_seeds() {
  for (const NamedRecipe& n : decode_recipes()) put("frame_header_fuzz", n.name, encode(n.recipe));
  Bytes stray = encode(JpegRecipe{});
  const Bytes junk = {0x00, 0x12, 0xFF, 0xFF, 0xFF};
  stray.insert(stray.begin() + 2, junk.begin(), junk.end());
  put("frame_header_fuzz", "stray_bytes.jpg", stray);
  JpegRecipe progressive;
  progressive.progressive = true;
  const Bytes scans = encode(progressive);
  put("frame_header_fuzz", "empty_comment.jpg", concat({0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00},
                                                      Bytes(scans.begin() + 2, scans.end())));
}

// Whole MPOs built from such halves, each half with an Exif APP1 first.
void put_mixed_mpo_seeds(const Bytes& app1) {
  JpegRecipe s;
  s.markers = {{JPEG_APP0 + 1, &app1}};
  const Bytes plain = encode(s);
  s.progressive = true;
  const Bytes progressive = encode(s);
  s.progressive = false, s.components = 4, s.in_space = JCS_CMYK;
  const Bytes cmyk = encode(s);
  put("entry_fuzz", "progressive_right.mpo", concat(plain, progressive));
  put("entry_fuzz", "cmyk_left.mpo", concat(cmyk, plain));
}

// Exif splice inputs: camera segments with a side-by-side file.
void put_exif_seeds(const mpogen::Options& small, const mpogen::ExifInfo& exif) {
  const Bytes sbs = side_by_side(128, 48);
  put("exif_fuzz", "camera.bin", exif_input(3, exif.segment, "GARDA", sbs));
  put("exif_fuzz", "plain_name.bin", exif_input(2, exif.segment, "", sbs));
  {
    mpogen::Options o = small;
    o.maker_note_bytes = 0, o.software_field_size = 32;
    put("exif_fuzz", "short_wide_field.bin",
        exif_input(3, mpogen::exif_info(o, 0).segment, "ABCDEFGHIJKL", sbs));
    o.software_field_size = 11;
    put("exif_fuzz", "narrow_field.bin", exif_input(1, mpogen::exif_info(o, 0).segment, "A", sbs));
  }
}

// Lines: every terminator, names in and outside UTF-8, a line across the
// read buffer; texts for the text operations.
void put_text_seeds() {
  put_text("read_line_fuzz", "terminators.txt", std::string("a\r\nb\nc\rd\0e\r\r\n\n", 15));
  put_text("read_line_fuzz", "list.txt",
           "/tmp/Fotos/DSCF0001.MPO\r\ndscf0001\r\n/tmp/Fotos/Stra\xc3\x9f" "e/x.y.mpo\r\nx.y\r\n");
  put_text("read_line_fuzz", "raw_bytes.txt", "\xff\xfe\xc3\r\n\xe2\x82\xac\xf0\x9f\x98\x80\xe2\x82");
  put_text("read_line_fuzz", "long_line.txt", std::string(4095, 'x') + "\r\n" + std::string(5000, 'y'));

  put_text("text_fuzz", "ascii.txt", "2013_GARDA_001 name.MPO");
  put_text("text_fuzz", "german.txt", "Stra\xc3\x9f" "e_\xc3\xa4\xc3\xb6\xc3\xbc \xc3\x84\xc3\x96\xc3\x9c");
  put_text("text_fuzz", "mixed.txt", "\xed\xa0\x80\xf0\x9f\x98\x80\xc0\xaf\xff_x_y");
}

// TV frame sizes: a column of one pixel 400 high into a region of one
// pixel's width, a row of one pixel, noise into a region larger than its
// picture.
void put_tv_frame_seeds() {
  put("tv_frame_fuzz", "column.bin", {0x01, 0x90, 0x00, 0x00, 0x00, 0x5F, 0, 1, 10, 200, 30, 40, 50, 60});
  put("tv_frame_fuzz", "row.bin", {0x7F, 0xFF, 0x00, 0x00, 0x10, 0x00, 1, 1, 1, 2, 3, 4, 5, 6});
  put("tv_frame_fuzz", "noise.bin",
      {0x00, 0x05, 0x00, 0x03, 0x20, 0x30, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2, 1, 77});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mpo-fuzz-seeds ROOT\n");
    return 2;
  }
  g_root = argv[1];
  ::mkdir(g_root.c_str(), 0755);

  mpogen::Options small;
  small.width = 64;
  small.height = 48;
  put_mpo_seeds(small);
  put_decode_seeds(small);
  put_frame_header_seeds();
  const mpogen::ExifInfo exif = mpogen::exif_info(small, 0);
  put_mixed_mpo_seeds(Bytes(exif.segment.begin() + 2, exif.segment.end()));
  put_exif_seeds(small, exif);
  put_text_seeds();
  put_tv_frame_seeds();
  return 0;
}
