// The JPEG decoder and encoder, registered with an ImageService under
// kJpegEncoderId.
#pragma once

#include "image/image_service.h"

namespace mpo {

// Each registers once per service; later calls return at once. Both return 1.
int register_jpeg_decoder(ImageService& images);
int register_jpeg_encoder(ImageService& images);

// The decoder's and encoder's descriptors, for tests and direct use.
const DecoderDescriptor& jpeg_decoder();
const EncoderDescriptor& jpeg_encoder();

}  // namespace mpo
