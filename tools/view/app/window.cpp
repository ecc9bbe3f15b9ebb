// The SDL2 window over the viewer.
#include "tools/view/app/window.h"

#include <SDL.h>
#include <chrono>
#include <vector>

namespace nimbra::view {

namespace {

constexpr int kMaxScale = 3;
constexpr Uint32 kRedrawMs = 16;   // the pace when the renderer has no vertical sync

double _Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The largest scale whose window fits the usable part of the display.
int _FittingScale() {
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return 1;
    for (int scale = kMaxScale; scale > 1; scale--) {
        if (kViewWidth * scale <= usable.w && kViewHeight * scale <= usable.h) return scale;
    }
    return 1;
}

bool _KeyOf(SDL_Keycode code, Key &key) {
    switch (code) {
    case SDLK_SPACE: key = Key::Pause; return true;
    case SDLK_LEFT: key = Key::Previous; return true;
    case SDLK_RIGHT: key = Key::Next; return true;
    case SDLK_s: key = Key::Save; return true;
    case SDLK_g: key = Key::Grid; return true;
    case SDLK_q: key = Key::Quit; return true;
    default: return false;
    }
}

struct Sdl {
    SDL_Window *window = nullptr;
    SDL_Renderer *renderer = nullptr;
    SDL_Texture *texture = nullptr;
    ~Sdl() {
        if (texture) SDL_DestroyTexture(texture);
        if (renderer) SDL_DestroyRenderer(renderer);
        if (window) SDL_DestroyWindow(window);
        SDL_Quit();
    }
};

}  // namespace

bool runWindow(Viewer &viewer, const Feed &feed, const WindowOptions &options, std::string &error) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        error = std::string("cannot open a window (") + SDL_GetError() + "); --headless runs without one";
        return false;
    }
    Sdl sdl;
    const int scale = options.scale > 0 ? options.scale : _FittingScale();
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    sdl.window = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                  kViewWidth * scale, kViewHeight * scale, SDL_WINDOW_SHOWN);
    if (sdl.window) {
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_PRESENTVSYNC);
        if (!sdl.renderer) sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    }
    if (sdl.renderer) {
        sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                        kViewWidth, kViewHeight);
    }
    if (!sdl.texture) {
        error = std::string("cannot open a window (") + SDL_GetError() + "); --headless runs without one";
        return false;
    }
    std::vector<uint32_t> picture((size_t)kViewWidth * kViewHeight);
    for (;;) {
        const Uint32 started = SDL_GetTicks();
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            Key key;
            if (event.type == SDL_QUIT) {
                viewer.press(Key::Quit);
            } else if (event.type == SDL_KEYDOWN && _KeyOf(event.key.keysym.sym, key)) {
                viewer.press(key);
            } else if (event.type == SDL_MOUSEMOTION) {
                viewer.pointAt(event.motion.x, event.motion.y, scale);
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_LEAVE) {
                viewer.leave();
            }
        }
        if (viewer.quitRequested()) break;
        // Read before the refresh: once the input has ended, the refresh
        // below has taken its last frame.
        const bool ended = feed.ended();
        viewer.refresh(_Now());
        composeView(viewer, picture.data());
        SDL_UpdateTexture(sdl.texture, nullptr, picture.data(), kViewWidth * (int)sizeof(uint32_t));
        SDL_RenderClear(sdl.renderer);
        SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, nullptr);
        SDL_RenderPresent(sdl.renderer);
        if (options.exitAtEnd && ended && !viewer.paused()) break;
        const Uint32 spent = SDL_GetTicks() - started;
        if (spent < kRedrawMs) SDL_WaitEventTimeout(nullptr, (int)(kRedrawMs - spent));
    }
    return true;
}

}  // namespace nimbra::view
