// PNG and ORV files drawn as the image command draws a cached file (on the
// screen, at a position, under a clip rectangle) or as the slot 0 upload
// decodes one (into a picture of the image's own size).
//
// Checks, besides the sanitizers: no pixel outside the clip rectangle or the
// picture changes, the pool and the context are left as they were, and a
// header that the size reader refuses is refused alike by the drawing.
#include <cstddef>
#include <cstdint>

#include "codecs/GUI_PNG.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/fuzz_layout.h"
#include "host/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::runRepeatable(size, [&] {
        const fuzz::ImageInput image = fuzz::applyImageInput(data, size);
        const fuzz::Placement &at = image.at;

        uint32_t width = 0, height = 0;
        uint8_t alpha = 0;
        const PngResult header = GUI_PNG_GetSize(image.file, image.fileBytes, &width, &height, &alpha);
        PngResult drawn = PNG_OK;
        if (at.flags & fuzzlayout::kImageIntoPicture) {
            // The upload refuses pictures larger than the screen before decoding.
            if (header != PNG_OK || width == 0 || height == 0 || width > SCREEN_WIDTH || height > SCREEN_HEIGHT) return;
            fuzz::drawIntoPicture(width, height, [&] { drawn = GUI_PNG_Draw(image.file, image.fileBytes, 0, 0); });
        } else {
            fuzz::DrawGuard guard;
            drawn = GUI_PNG_Draw(image.file, image.fileBytes, at.x, at.y);
            guard.check();
        }
        if (header != PNG_OK) fuzz::require(drawn == header, "drawing refuses a header as the size reader does");
        fuzz::require(drawn >= PNG_NOT_DRAWABLE && drawn <= PNG_NOT_PNG, "drawing returns one of its results");
    });
    return 0;
}
