// The name-token rule and the Exif side-by-side image: the side-by-side
// JPEG with its JFIF header replaced by the MPO's Exif segment, whose
// Software field is rewritten from the file name.
#pragma once

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

// The token cut or padded with blanks to 10 characters, then "-V1.22".
Text software_text(const Text& token);

// Writes `software` over the value of the Software entry (tag 0x0131, type
// ASCII) found last in the first 512 bytes of the segment, keeping the
// value's terminating zero. Only whole entries and values inside the
// segment are read and written. False when there is no such entry or its
// value does not lie inside the segment.
bool rewrite_software(MemoryBlock& segment, const Text& software);

// Writes base path + "_EXIF.jpg" from this entry's "_sbs.jpg" and its Exif
// segment (rewritten first when the token flag is set). Without a usable
// side-by-side file of this entry, without a segment, or when the file
// cannot be written completely, nothing is left behind and "Fehlerinfo" is
// shown. True when the file was written.
bool write_exif_image(FileService& files, Reporter& ui, const Text& base_path, MemoryBlock& segment,
                      const NameToken& name, bool sbs_written);

}  // namespace mpo
