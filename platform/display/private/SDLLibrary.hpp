// SDLLibrary: SDL2, opened with dlopen the first time a window is shown on a desktop, never
// at load time: a host that plays nothing on a screen (and every headless process) neither
// maps SDL nor the X11, Wayland and GL libraries it brings in.
//
// Each SDL function the display layer calls is a member of the table, named as in SDL and
// called through it (sdl.SDL_CreateWindow(...)). Only platform/display includes this header;
// SDL's own headers are included only here.
//
// Thread-safety: loading happens once, under the C++ runtime's static-initialisation lock;
// the table is read-only afterwards. SDL's video functions themselves belong to the thread
// that initialised video, the main thread. No callbacks.
#pragma once

#include <SDL.h>
#include <SDL_syswm.h>

#include <string>

namespace pindle::platform::display {

#define PINDLE_SDL_FUNCTIONS(X)   \
    X(SDL_CreateRenderer)         \
    X(SDL_CreateTexture)          \
    X(SDL_CreateWindow)           \
    X(SDL_DestroyRenderer)        \
    X(SDL_DestroyTexture)         \
    X(SDL_DestroyWindow)          \
    X(SDL_GetCurrentDisplayMode)  \
    X(SDL_GetCurrentVideoDriver)  \
    X(SDL_GetError)               \
    X(SDL_GetRendererInfo)        \
    X(SDL_GetRendererOutputSize)  \
    X(SDL_GetVersion)             \
    X(SDL_GetWindowDisplayIndex)  \
    X(SDL_GetWindowID)            \
    X(SDL_GetWindowSize)          \
    X(SDL_GetWindowWMInfo)        \
    X(SDL_InitSubSystem)          \
    X(SDL_PollEvent)              \
    X(SDL_QuitSubSystem)          \
    X(SDL_RenderClear)            \
    X(SDL_RenderCopyF)            \
    X(SDL_RenderFillRectF)        \
    X(SDL_RenderPresent)          \
    X(SDL_RenderSetClipRect)      \
    X(SDL_SetHint)                \
    X(SDL_SetRenderDrawBlendMode) \
    X(SDL_SetRenderDrawColor)     \
    X(SDL_SetTextureAlphaMod)     \
    X(SDL_SetTextureBlendMode)    \
    X(SDL_SetWindowSize)          \
    X(SDL_SetWindowTitle)         \
    X(SDL_SetYUVConversionMode)   \
    X(SDL_ShowWindow)             \
    X(SDL_StartTextInput)         \
    X(SDL_StopTextInput)          \
    X(SDL_UpdateTexture)          \
    X(SDL_UpdateYUVTexture)

class SDLLibrary {
  public:
    // The table, or null when SDL cannot be opened (`reason` then says why).
    static const SDLLibrary* load(std::string* reason);

#define PINDLE_SDL_MEMBER(function) decltype(&::function) function = nullptr;
    PINDLE_SDL_FUNCTIONS(PINDLE_SDL_MEMBER)
#undef PINDLE_SDL_MEMBER

  private:
    SDLLibrary() = default;
};

}  // namespace pindle::platform::display
