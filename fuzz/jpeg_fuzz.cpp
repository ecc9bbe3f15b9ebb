// Baseline JPEG files drawn as the image command draws a cached file (on the
// screen, at a position, under a clip rectangle) or as the slot 0 upload
// decodes one (into a picture of the size its frame header gives).
//
// Checks, besides the sanitizers: no pixel outside the clip rectangle or the
// picture changes, and the pool and the context are left as they were.
#include <cstddef>
#include <cstdint>

#include "codecs/GUI_JPEG.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "host/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        const fuzz::ImageInput image = fuzz::applyImageInput(data, size);
        const fuzz::Placement &at = image.at;

        JpegResult drawn = JPEG_OK;
        if (at.flags & fuzzlayout::kImageIntoPicture) {
            uint32_t width = 0, height = 0;
            uint8_t progressive = 0;
            const JpegResult header = GUI_JPEG_GetSize(image.file, image.fileBytes, &width, &height, &progressive);
            // The upload refuses these before decoding.
            if (header != JPEG_OK || progressive || width > SCREEN_WIDTH || height > SCREEN_HEIGHT) return;
            fuzz::drawIntoPicture(width, height, [&] { drawn = GUI_JPEG_Draw(image.file, image.fileBytes, 0, 0); });
        } else {
            fuzz::DrawGuard guard;
            drawn = GUI_JPEG_Draw(image.file, image.fileBytes, at.x, at.y);
            guard.check();
        }
        fuzz::require(drawn >= JPEG_NO_POOL && drawn <= JPEG_REFUSED, "drawing returns one of its results");
    });
    return 0;
}
