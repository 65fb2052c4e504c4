// The name-token rule, the Exif side-by-side image and the Exif splice: an
// encoded JPEG with its JFIF header replaced by the MPO's Exif segment (for
// the Exif image with the Software field rewritten from the file name).
#pragma once

#include <cstdint>

#include "app/extra_outputs.h"
#include "app/front_end.h"
#include "io/files.h"
#include "io/memory.h"
#include "io/text.h"

namespace mpo {

constexpr int kExifWriteSlot = 8;
constexpr int kSbsReadSlot = 9;

struct NameToken {
  bool flag = false;  // the base name starts with "19" or "20"
  Text token;         // kept from an earlier entry while the flag stays clear
};

// Clears the flag, then sets flag and token when the upper-case base name
// starts with "19" or "20": the text between its first two '_' ("XXX" when
// empty), upper case.
void apply_name_token_rule(const Text& upper_base_name, NameToken& name);

// The token cut or padded with blanks to 10 characters, then "-V1.22". A
// character above U+00FF (a surrogate pair counts as one) becomes '?'.
Text software_text(const Text& token);

// Writes `software` over the value of the Software entry (tag 0x0131, type
// ASCII) of IFD0 of the segment's little-endian TIFF structure, keeping the
// value's terminating zero. Only whole entries and values inside the
// segment are read and written. False when there is no such entry or its
// value does not lie inside the segment.
bool rewrite_software(MemoryBlock& segment, const Text& software);

// An encoded file of the program's JPEG encoder (SOI, a 16-byte JFIF APP0,
// the first DQT at offset 20) with SOI, APP1 and `segment` in place of SOI
// and APP0, written to `out_name` through an output file: all or nothing.
// Without a segment the encoded bytes are written as they are. On failure
// `reason` is the errno value (or kReasonUnknown).
bool write_spliced(FileService& files, const Text& out_name, const MemoryBlock& encoded,
                   const MemoryBlock& segment, int& reason);

// The whole file when it has the encoder's layout; empty otherwise.
MemoryBlock read_encoded_file(FileService& files, const Text& name);

// Writes base path + "_EXIF.jpg" from this entry's "_sbs.jpg" and a copy of
// its Exif segment (rewritten first when the token flag is set). Without a
// usable side-by-side file of this entry, without a segment, or when the
// file cannot be written completely, nothing is left behind and
// "Fehlerinfo" is shown. True when the file was written.
bool write_exif_image(FileService& files, Reporter& ui, const Text& base_path,
                      const MemoryBlock& segment, const NameToken& name, bool sbs_written,
                      const ExtraOutputs& extra = {});

}  // namespace mpo
