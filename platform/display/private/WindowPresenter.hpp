// WindowPresenter: one desktop window showing one Window, through SDL. Each refresh draws the
// interface again only when something in it changed (UIThreadChecker::mutationCount moved,
// the size changed, or an animation runs), leaving holes where layers draw video; then every
// video layer's frame for the refresh is uploaded as it was decoded (planar Y'CbCr into a
// streaming texture, no colour conversion on the CPU) and drawn at the layer's rectangle,
// fit, clip and opacity; the interface goes on top with its alpha; and the frame is
// presented. A refresh with no new frame and no change to the interface presents nothing.
// A video frame that was due and never reached the screen is counted as dropped.
//
// Private to platform/display. Thread-safety: none; used on the main thread only, by Display.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/display/Display.hpp"
#include "platform/display/private/SDLLibrary.hpp"
#include "platform/media/GraphicsContext.hpp"
#include "platform/media/VideoFrame.hpp"
#include "platform/ui/Layer.hpp"

namespace pindle::platform::ui {
class Window;
}

namespace pindle::platform::display {

class WindowPresenter {
  public:
    // A desktop window for `window` at `scale` pixels per point; null (with `reason`) when
    // SDL refuses.
    static std::unique_ptr<WindowPresenter> make(const SDLLibrary& sdl,
                                                 const std::shared_ptr<ui::Window>& window,
                                                 double scale, std::string* reason);
    ~WindowPresenter();
    WindowPresenter(const WindowPresenter&) = delete;
    WindowPresenter& operator=(const WindowPresenter&) = delete;

    std::shared_ptr<ui::Window> window() const { return window_.lock(); }
    const ui::Window* windowAddress() const { return address_; }
    std::uint32_t sdlWindowID() const { return windowID_; }
    std::uint64_t nativeHandle() const { return nativeHandle_; }
    // The Xlib connection (a Display*) the window is on; null off X11.
    void* xConnection() const { return xConnection_; }
    double scale() const { return scale_; }
    const Display::Statistics& statistics() const { return statistics_; }

    // Draws and presents the frame for the refresh shown at `hostTime` (Clock uptime); true
    // when it presented (something had changed).
    bool refresh(double hostTime);
    // The desktop window now has this size in pixels: the window is laid out again.
    void resized(int pixelWidth, int pixelHeight);
    // The desktop lost what the window showed: the next refresh presents again.
    void exposed();
    // The connection to the desktop broke: the window, renderer and textures are forgotten
    // without a call to SDL (which would wait forever for the server to answer).
    void abandon();

  private:
    struct VideoTexture {
        std::weak_ptr<const Object> source;
        SDL_Texture* texture = nullptr;
        int width = 0;
        int height = 0;
        bool planar = false;
        bool fullRange = false;
        VideoFramePtr uploaded;
        double lastFrameTime = 0;
        bool hasShown = false;
        bool placed = false;  // on screen in the refresh being drawn
    };

    // What a rasterisation did to the interface on screen.
    enum class Drawn { failed, same, changed };

    WindowPresenter(const SDLLibrary& sdl, const std::shared_ptr<ui::Window>& window, double scale);
    void warmUp();
    Drawn rasterise(ui::Window& window, int width, int height);
    void drawVideo(const GraphicsContext::VideoPlacement& placement,
                   const ui::Layer::VideoContent& content);
    bool upload(VideoTexture& texture, const VideoFrame& frame);
    // Counts a newly uploaded frame as shown, and the frames passed over since the last one
    // as dropped.
    void count(VideoTexture& video, const ui::Layer::VideoContent& content);
    // True when a video of the refresh being drawn covers the whole window, opaque.
    bool coversWindow(int width, int height) const;

    const SDLLibrary& sdl_;
    const std::weak_ptr<ui::Window> window_;
    const ui::Window* const address_;
    const double scale_;
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    std::uint32_t windowID_ = 0;
    std::uint64_t nativeHandle_ = 0;
    void* xConnection_ = nullptr;

    // The interface is drawn on one canvas, again and again; onTexture_ is what its texture
    // holds (empty: nothing known), so that only what changed is uploaded.
    std::unique_ptr<GraphicsContext> canvas_;
    double canvasScale_ = 0;
    std::vector<std::uint8_t> onTexture_;
    SDL_Texture* interface_ = nullptr;
    int interfaceWidth_ = 0;
    int interfaceHeight_ = 0;
    std::uint64_t drawnMutations_ = 0;
    bool drawnOnce_ = false;
    bool redrawNeeded_ = false;  // an animation runs, or a video layer got its first frame
    bool presentNeeded_ = true;  // the screen does not show the latest frame
    // When the interface on the texture changed without being presented yet (host time).
    std::optional<double> interfaceChangedAt_;
    double lastNewFrameAt_ = -1e9;  // host time of the last refresh with a new video frame
    std::vector<GraphicsContext::VideoPlacement> placements_;
    std::vector<ui::Layer::VideoContent> contents_;  // for the refresh being drawn
    std::vector<SDL_Rect> overlay_;                  // where the interface image covers anything
    std::map<const Object*, VideoTexture> videos_;
    Display::Statistics statistics_;
};

}  // namespace pindle::platform::display
