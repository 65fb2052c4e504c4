#include "mpo/xmp_vr.h"

#include <nettle/base64.h>
#include <nettle/md5.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace mpo {

namespace {

constexpr char kRdf[] = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr char kGPano[] = "http://ns.google.com/photos/1.0/panorama/";
constexpr char kGImage[] = "http://ns.google.com/photos/1.0/image/";
constexpr char kXmpNote[] = "http://ns.adobe.com/xmp/note/";

std::string attribute(const char* name, const std::string& value) {
  return std::string("\n    ") + name + "=\"" + value + "\"";
}

std::string attribute(const char* name, int64_t value) {
  return attribute(name, std::to_string(value));
}

std::string standard_packet(const PanoramaCrop& c, const std::string& guid) {
  return std::string("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n") +
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF xmlns:rdf=\"" + kRdf +
         "\">\n  <rdf:Description rdf:about=\"\"" + attribute("xmlns:GPano", kGPano) +
         attribute("xmlns:GImage", kGImage) + attribute("xmlns:xmpNote", kXmpNote) +
         attribute("GPano:ProjectionType", "equirectangular") +
         attribute("GPano:CroppedAreaLeftPixels", c.left) +
         attribute("GPano:CroppedAreaTopPixels", c.top) +
         attribute("GPano:CroppedAreaImageWidthPixels", c.width) +
         attribute("GPano:CroppedAreaImageHeightPixels", c.height) +
         attribute("GPano:FullPanoWidthPixels", c.full_width) +
         attribute("GPano:FullPanoHeightPixels", c.full_height) +
         attribute("GImage:Mime", "image/jpeg") + attribute("xmpNote:HasExtendedXMP", guid) +
         "/>\n </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

// The extended packet: no packet wrapper, the image's data as one
// attribute. Written once, straight into memory of its own size.
class ExtendedPacket {
 public:
  explicit ExtendedPacket(std::span<const uint8_t> jpeg) {
    const std::string head =
        std::string("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n <rdf:RDF xmlns:rdf=\"") + kRdf +
        "\">\n  <rdf:Description rdf:about=\"\"" + attribute("xmlns:GImage", kGImage) +
        "\n    GImage:Data=\"";
    const std::string tail = "\"/>\n </rdf:RDF>\n</x:xmpmeta>";
    const size_t data = BASE64_ENCODE_RAW_LENGTH(jpeg.size());
    size_ = head.size() + data + tail.size();
    bytes_ = std::make_unique_for_overwrite<uint8_t[]>(size_);
    std::memcpy(bytes_.get(), head.data(), head.size());
    base64_encode_raw(reinterpret_cast<char*>(bytes_.get() + head.size()), jpeg.size(),
                      jpeg.data());
    std::memcpy(bytes_.get() + head.size() + data, tail.data(), tail.size());
  }
  std::span<const uint8_t> bytes() const { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  size_t size_ = 0;
};

void put_be(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// APP1 marker, length field, then `parts` one after another.
void put_segment(std::vector<uint8_t>& out, std::initializer_list<std::span<const uint8_t>> parts) {
  size_t length = 2;
  for (const auto& p : parts) length += p.size();
  out.push_back(0xFF);
  out.push_back(0xE1);
  put_be(out, length, 2);
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
}

std::span<const uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The header with its terminating zero byte.
template <size_t N>
std::span<const uint8_t> header_of(const char (&h)[N]) {
  return {reinterpret_cast<const uint8_t*>(h), N};
}

}  // namespace

PanoramaCrop panorama_crop(int64_t W, int64_t H, int fov) {
  PanoramaCrop c;
  fov = std::clamp(fov, 1, 360);
  c.width = W, c.height = H;
  c.full_width = std::max(2 * ((180 * W + fov / 2) / fov), 2 * H);
  c.full_height = c.full_width / 2;
  c.left = (c.full_width - W) / 2;
  c.top = (c.full_height - H) / 2;
  return c;
}

std::string md5_hex(std::span<const uint8_t> bytes) {
  md5_ctx context;
  md5_init(&context);
  md5_update(&context, bytes.size(), bytes.data());
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&context, MD5_DIGEST_SIZE, digest);
  static const char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (uint8_t b : digest) hex += {kHex[b >> 4], kHex[b & 15]};
  return hex;
}

bool put_vr_xmp_segments(const PanoramaCrop& crop, std::span<const uint8_t> right_jpeg,
                         std::vector<uint8_t>& out) {
  try {
    const ExtendedPacket extended(right_jpeg);
    const auto whole = extended.bytes();
    if (whole.size() > UINT32_MAX) return false;
    const std::string guid = md5_hex(whole);
    const std::string standard = standard_packet(crop, guid);
    const size_t chunks = (whole.size() + kExtendedChunk - 1) / kExtendedChunk;
    out.reserve(out.size() + standard.size() + whole.size() + chunks * 80 + 64);
    put_segment(out, {header_of(kXmpHeader), bytes_of(standard)});
    for (size_t at = 0; at < whole.size(); at += kExtendedChunk) {
      uint8_t numbers[8];
      for (int i = 0; i < 4; ++i) {
        numbers[i] = static_cast<uint8_t>(whole.size() >> (24 - 8 * i));
        numbers[4 + i] = static_cast<uint8_t>(at >> (24 - 8 * i));
      }
      put_segment(out, {header_of(kExtendedXmpHeader), bytes_of(guid), numbers,
                        whole.subspan(at, std::min<size_t>(kExtendedChunk, whole.size() - at))});
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace mpo
