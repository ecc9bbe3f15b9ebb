// MPEG-1 video decoder: a bounded stream buffer and a decoder of the video
// elementary stream that reconstructs intra (I) and predicted (P) pictures.
//
// Stream buffer: a fixed capacity, all-or-nothing writes that first drop the
// bytes already consumed, and a checkpoint (length and read position) taken
// after each decoded picture, which restore brings back and reset clears.
//
// Decoder: finds the sequence header (refusing zero sizes, pictures of more
// than 307200 bytes at three bytes a pixel, and frame stores that do not fit
// the pool), then decodes one picture per call into two frame stores. Each
// call returns the most recent reference picture: the picture just decoded
// when it is an I or P picture; for a bidirectional (B) or DC-only (D)
// picture, which are consumed without being reconstructed, the previous
// reference again.
//
// All memory comes from the memory pool; nothing is ever freed one block at a
// time: the destroy functions release nothing, and the owner returns the pool
// to the mark it took before creating the buffer.
#pragma once
#include <cstddef>
#include <cstdint>

struct plm_buffer_t;
struct plm_video_t;

struct plm_plane_t {
    uint16_t width;     // row length in samples (the picture width rounded up to 16, halved for chroma)
    uint16_t height;    // rows held
    uint8_t *data;      // first sample
};

struct plm_frame_t {
    uint16_t width;     // picture size in pixels, as the sequence header gives it
    uint16_t height;
    plm_plane_t y;
    plm_plane_t cb;
    plm_plane_t cr;
};

// Stream buffer. Creation returns null when the pool cannot hold it.
plm_buffer_t *plm_buffer_create_with_capacity(size_t capacity);
void plm_buffer_destroy(plm_buffer_t *self);
// Drops the consumed bytes, then appends all `length` bytes and returns
// `length`, or appends nothing and returns 0 when they do not fit.
size_t plm_buffer_write(plm_buffer_t *self, const uint8_t *bytes, size_t length);
// Records the buffer's length and read position.
void plm_buffer_checkpoint(plm_buffer_t *self);
// Sets length and read position back to the checkpoint: everything appended
// since is dropped.
void plm_buffer_restore(plm_buffer_t *self);
// Empties the buffer and clears the checkpoint.
void plm_buffer_reset(plm_buffer_t *self);
size_t plm_buffer_get_size(const plm_buffer_t *self);        // bytes held
size_t plm_buffer_get_remaining(const plm_buffer_t *self);   // bytes not yet read

// Decoder reading from `buffer`. Creation returns null when the pool cannot
// hold it. The frame stores are allocated when the sequence header is met.
plm_video_t *plm_video_create_with_buffer(plm_buffer_t *buffer);
void plm_video_destroy(plm_video_t *self);
bool plm_video_has_header(const plm_video_t *self);
uint16_t plm_video_get_width(const plm_video_t *self);
uint16_t plm_video_get_height(const plm_video_t *self);
// Decodes the next picture of the buffered stream. Returns the most recent
// reference picture, or null when no sequence header has been accepted yet,
// when the buffer holds no further picture, or when no reference picture
// exists yet. A picture whose data is only partly buffered (cut inside a
// slice, or before its last slice) is not shown: the call returns the last
// complete reference picture again and reads the picture anew, from the
// checkpoint, once the rest has arrived.
plm_frame_t *plm_video_decode(plm_video_t *self);
