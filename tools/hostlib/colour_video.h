// Colour video for the device. The device copies each decoded luma sample
// into its frame buffer as an RGB332 colour index, so a clip shows in colour
// when its luma already holds the indices: each source pixel is mapped to
// its nearest RGB332 index (no dithering), that plane is encoded as the luma
// of an MPEG-1 stream, and the chroma planes stay neutral.
//
// The coding is lossy: a luma error of one level moves the index by one,
// which changes the blue channel by one step (or, across a blue boundary,
// green); larger errors near sharp edges reach green and red. A fine
// quantiser keeps the errors small at the price of larger pictures.
#pragma once
#include <cstdint>
#include <string>

#include "tools/hostlib/nimbra_host.h"

namespace nimbra {

// One picture for the encoder, planar YUV 4:2:0: the luma plane holds the
// RGB332 index of each pixel of `rgb` (width x height x 3 bytes, rows top to
// bottom), both chroma planes ((width + 1) / 2 x (height + 1) / 2) hold 128.
Bytes indexPictureYuv420(const uint8_t *rgb, uint32_t width, uint32_t height);

struct ColourClipOptions {
    int quantiser = 2;   // the encoder's fixed quantiser, 1 (finest) to 31
};

// Runs the ffmpeg program: decodes every picture of `input` (any file ffmpeg
// reads) to RGB, maps it with indexPictureYuv420 and encodes the result as
// an MPEG-1 video elementary stream without B pictures into `m1v`. False
// with the reason in `error`; a picture larger than the device plays is
// refused before anything is encoded.
bool encodeColourClip(const std::string &input, const ColourClipOptions &options, Bytes &m1v, std::string &error);

}  // namespace nimbra
