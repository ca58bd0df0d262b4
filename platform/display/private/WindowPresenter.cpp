#include "platform/display/private/WindowPresenter.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "platform/ui/Layer.hpp"
#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/Window.hpp"

namespace pindle::platform::display {

namespace {

constexpr const char* windowTitle = "Pindle";
// A jump of the picture larger than this is a seek, not frames lost.
constexpr double longestDrop = 1.0;
// A video whose last new frame came this recently (seconds) is playing; a change of the
// interface waits at most this long for its next frame.
constexpr double videoPlayingGap = 0.1;
constexpr double interfaceWaitBound = 0.05;

bool hasAnimations(const ui::Layer& layer) {
    if (!layer.animationKeys().empty())
        return true;
    for (const auto& sublayer : layer.sublayers())
        if (hasAnimations(*sublayer))
            return true;
    return false;
}

SDL_FRect toSDL(const ui::Rect& rect) {
    return SDL_FRect{static_cast<float>(rect.minX()), static_cast<float>(rect.minY()),
                     static_cast<float>(rect.width()), static_cast<float>(rect.height())};
}

// The bands of rows of an RGBA image that have any pixel not wholly transparent, each as wide
// as what it covers; at most mostBands, the nearest merged.
constexpr std::size_t mostBands = 8;

std::vector<SDL_Rect> coveredBands(const std::uint8_t* rgba, int width, int height) {
    std::vector<SDL_Rect> bands;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgba + static_cast<std::size_t>(y) * width * 4;
        int left = 0;
        while (left < width && row[left * 4 + 3] == 0) ++left;
        if (left == width)
            continue;
        int right = width - 1;
        while (row[right * 4 + 3] == 0) --right;
        if (!bands.empty() && bands.back().y + bands.back().h == y) {
            SDL_Rect& band = bands.back();
            const int end = std::max(band.x + band.w, right + 1);
            band.x = std::min(band.x, left);
            band.w = end - band.x;
            ++band.h;
        } else {
            bands.push_back(SDL_Rect{left, y, right + 1 - left, 1});
        }
    }
    while (bands.size() > mostBands) {
        // Merge the two neighbours with the smallest gap between them.
        std::size_t best = 0;
        int gap = height;
        for (std::size_t i = 0; i + 1 < bands.size(); ++i) {
            const int between = bands[i + 1].y - (bands[i].y + bands[i].h);
            if (between < gap) {
                gap = between;
                best = i;
            }
        }
        SDL_Rect& a = bands[best];
        const SDL_Rect& b = bands[best + 1];
        const int left = std::min(a.x, b.x);
        const int right = std::max(a.x + a.w, b.x + b.w);
        a = SDL_Rect{left, a.y, right - left, b.y + b.h - a.y};
        bands.erase(bands.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    }
    return bands;
}

// True when `outer` holds every whole pixel of `inner` (device pixels, edges rounded out).
bool covers(const ui::Rect& outer, const ui::Rect& inner) {
    return !outer.isEmpty() && outer.minX() <= std::floor(inner.minX()) &&
           outer.minY() <= std::floor(inner.minY()) && outer.maxX() >= std::ceil(inner.maxX()) &&
           outer.maxY() >= std::ceil(inner.maxY());
}

// The smallest rectangle holding every pixel in which two images of the same size differ;
// nothing when they are the same.
std::optional<SDL_Rect> differingArea(const std::uint8_t* a, const std::uint8_t* b, int width,
                                      int height) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    int top = height, bottom = -1, left = width, right = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* rowA = a + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* rowB = b + static_cast<std::size_t>(y) * rowBytes;
        if (std::memcmp(rowA, rowB, rowBytes) == 0)
            continue;
        top = std::min(top, y);
        bottom = y;
        int x = 0;
        while (x < width && std::memcmp(rowA + x * 4, rowB + x * 4, 4) == 0) ++x;
        left = std::min(left, x);
        x = width - 1;
        while (x > right && std::memcmp(rowA + x * 4, rowB + x * 4, 4) == 0) --x;
        right = std::max(right, x);
    }
    if (bottom < 0)
        return std::nullopt;
    return SDL_Rect{left, top, right + 1 - left, bottom + 1 - top};
}

bool samePlacements(const std::vector<GraphicsContext::VideoPlacement>& a,
                    const std::vector<GraphicsContext::VideoPlacement>& b) {
    const auto same = [](const GraphicsContext::VideoPlacement& x,
                         const GraphicsContext::VideoPlacement& y) {
        return x.rect == y.rect && x.clip == y.clip && x.alpha == y.alpha &&
               x.background == y.background && x.source == y.source && x.hole == y.hole;
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

int pixels(double points, double scale) {
    return std::max(1, static_cast<int>(std::lround(points * scale)));
}

}  // namespace

WindowPresenter::WindowPresenter(const SDLLibrary& sdl, const std::shared_ptr<ui::Window>& window,
                                 double scale)
    : sdl_(sdl), window_(window), address_(window.get()), scale_(scale) {}

std::unique_ptr<WindowPresenter> WindowPresenter::make(const SDLLibrary& sdl,
                                                       const std::shared_ptr<ui::Window>& window,
                                                       double scale, std::string* reason) {
    std::unique_ptr<WindowPresenter> presenter(new WindowPresenter(sdl, window, scale));
    const ui::Rect bounds = window->bounds();
    presenter->sdlWindow_ = sdl.SDL_CreateWindow(
        windowTitle, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
        pixels(bounds.width(), scale), pixels(bounds.height(), scale), SDL_WINDOW_RESIZABLE);
    if (!presenter->sdlWindow_) {
        *reason = sdl.SDL_GetError();
        return nullptr;
    }
    presenter->renderer_ = sdl.SDL_CreateRenderer(presenter->sdlWindow_, -1, 0);
    if (!presenter->renderer_) {
        *reason = sdl.SDL_GetError();
        return nullptr;
    }
    presenter->windowID_ = sdl.SDL_GetWindowID(presenter->sdlWindow_);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (sdl.SDL_GetWindowWMInfo(presenter->sdlWindow_, &info) == SDL_TRUE &&
        info.subsystem == SDL_SYSWM_X11) {
        presenter->nativeHandle_ = static_cast<std::uint64_t>(info.info.x11.window);
        presenter->xConnection_ = info.info.x11.display;
    }
    presenter->warmUp();
    sdl.SDL_ShowWindow(presenter->sdlWindow_);
    return presenter;
}

void WindowPresenter::warmUp() {
    // A renderer prepares what it needs to draw each kind of picture the first time it draws
    // one, which on a software GL driver takes tens of milliseconds: done here, before any
    // frame is due, rather than over the first frames of a video (which it would drop).
    constexpr int side = 16;
    std::vector<std::uint8_t> grey(side * side * 4, 128);
    SDL_Texture* video = sdl_.SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_IYUV,
                                                SDL_TEXTUREACCESS_STREAMING, side, side);
    SDL_Texture* overlay = sdl_.SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32,
                                                  SDL_TEXTUREACCESS_STREAMING, side, side);
    const SDL_FRect area{0, 0, side, side};
    if (video) {
        sdl_.SDL_SetYUVConversionMode(SDL_YUV_CONVERSION_BT601);
        sdl_.SDL_UpdateYUVTexture(video, nullptr, grey.data(), side, grey.data(), side / 2,
                                  grey.data(), side / 2);
        sdl_.SDL_SetTextureBlendMode(video, SDL_BLENDMODE_NONE);
        sdl_.SDL_RenderCopyF(renderer_, video, nullptr, &area);
    }
    if (overlay) {
        sdl_.SDL_UpdateTexture(overlay, nullptr, grey.data(), side * 4);
        sdl_.SDL_SetTextureBlendMode(overlay, SDL_BLENDMODE_BLEND);
        sdl_.SDL_RenderCopyF(renderer_, overlay, nullptr, &area);
    }
    sdl_.SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
    sdl_.SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 128);
    sdl_.SDL_RenderFillRectF(renderer_, &area);
    // Reading a pixel back makes the renderer draw now.
    const SDL_Rect one{0, 0, 1, 1};
    std::uint32_t pixel = 0;
    sdl_.SDL_RenderReadPixels(renderer_, &one, SDL_PIXELFORMAT_RGBA32, &pixel, 4);
    sdl_.SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    sdl_.SDL_RenderClear(renderer_);
    if (video)
        sdl_.SDL_DestroyTexture(video);
    if (overlay)
        sdl_.SDL_DestroyTexture(overlay);
}

WindowPresenter::~WindowPresenter() {
    for (auto& [source, video] : videos_)
        if (video.texture)
            sdl_.SDL_DestroyTexture(video.texture);
    if (interface_)
        sdl_.SDL_DestroyTexture(interface_);
    if (renderer_)
        sdl_.SDL_DestroyRenderer(renderer_);
    if (sdlWindow_)
        sdl_.SDL_DestroyWindow(sdlWindow_);
}

void WindowPresenter::abandon() {
    for (auto& [source, video] : videos_) video.texture = nullptr;
    interface_ = nullptr;
    renderer_ = nullptr;
    sdlWindow_ = nullptr;
}

void WindowPresenter::resized(int pixelWidth, int pixelHeight) {
    auto window = window_.lock();
    if (!window || pixelWidth <= 0 || pixelHeight <= 0)
        return;
    const ui::Rect frame = window->frame();
    window->setFrame(
        ui::Rect::make(frame.minX(), frame.minY(), pixelWidth / scale_, pixelHeight / scale_));
    window->layoutIfNeeded();
}

WindowPresenter::Drawn WindowPresenter::rasterise(ui::Window& window, int width, int height) {
    // Counted before drawing: a change made while drawing is drawn on the next refresh.
    const std::uint64_t mutations = ui::UIThreadChecker::mutationCount();
    window.layoutIfNeeded();
    const ui::Rect bounds = window.bounds();
    if (bounds.isEmpty())
        return Drawn::failed;
    const double scale = width / bounds.width();
    if (!canvas_ || canvas_->pixelWidth() != width || canvas_->pixelHeight() != height ||
        canvasScale_ != scale) {
        canvas_ = GraphicsContext::make(width, height, scale);
        canvasScale_ = scale;
        onTexture_.clear();
        if (!canvas_)
            return Drawn::failed;
    } else {
        canvas_->reset();
    }
    std::vector<GraphicsContext::VideoPlacement> placements;
    canvas_->collectVideo(&placements);
    const ui::Point position = window.layer()->position();
    canvas_->translate(bounds.width() / 2 - position.x, bounds.height() / 2 - position.y);
    window.layer()->render(*canvas_);
    canvas_->collectVideo(nullptr);

    if (!interface_ || interfaceWidth_ != width || interfaceHeight_ != height) {
        if (interface_)
            sdl_.SDL_DestroyTexture(interface_);
        interface_ = sdl_.SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGBA32,
                                            SDL_TEXTUREACCESS_STREAMING, width, height);
        onTexture_.clear();
        if (!interface_)
            return Drawn::failed;
        sdl_.SDL_SetTextureBlendMode(interface_, SDL_BLENDMODE_BLEND);
        interfaceWidth_ = width;
        interfaceHeight_ = height;
    }
    drawnMutations_ = mutations;
    drawnOnce_ = true;
    redrawNeeded_ = hasAnimations(*window.layer());
    ++statistics_.rasterisations;

    // Only what differs from the texture goes to it: a moving slider thumb is a few hundred
    // pixels of a window's worth.
    const std::vector<std::uint8_t>& pixels = canvas_->rgba();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * Image::bytesPerPixel;
    const std::optional<SDL_Rect> area =
        onTexture_.empty() ? SDL_Rect{0, 0, width, height}
                           : differingArea(pixels.data(), onTexture_.data(), width, height);
    const bool placed = !samePlacements(placements, placements_);
    placements_ = std::move(placements);
    if (!area)
        return placed ? Drawn::changed : Drawn::same;
    const std::size_t first =
        static_cast<std::size_t>(area->y) * rowBytes + static_cast<std::size_t>(area->x) * 4;
    sdl_.SDL_UpdateTexture(interface_, &*area, pixels.data() + first, static_cast<int>(rowBytes));
    if (onTexture_.empty()) {
        onTexture_ = pixels;
    } else {
        for (int y = area->y; y < area->y + area->h; ++y) {
            const std::size_t at =
                static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(area->x) * 4;
            std::copy_n(pixels.data() + at, static_cast<std::size_t>(area->w) * 4,
                        onTexture_.data() + at);
        }
    }
    overlay_ = coveredBands(pixels.data(), width, height);
    return Drawn::changed;
}

bool WindowPresenter::upload(VideoTexture& video, const VideoFrame& frame) {
    const bool planar = frame.isPlanar();
    if (!video.texture || video.width != frame.width() || video.height != frame.height() ||
        video.planar != planar || video.fullRange != frame.isFullRange()) {
        if (video.texture)
            sdl_.SDL_DestroyTexture(video.texture);
        sdl_.SDL_SetYUVConversionMode(frame.isFullRange() ? SDL_YUV_CONVERSION_JPEG
                                                          : SDL_YUV_CONVERSION_BT601);
        video.texture = sdl_.SDL_CreateTexture(
            renderer_, planar ? SDL_PIXELFORMAT_IYUV : SDL_PIXELFORMAT_RGBA32,
            SDL_TEXTUREACCESS_STREAMING, frame.width(), frame.height());
        if (!video.texture)
            return false;
        video.width = frame.width();
        video.height = frame.height();
        video.planar = planar;
        video.fullRange = frame.isFullRange();
    }
    if (planar) {
        const auto& p = frame.planes();
        sdl_.SDL_SetYUVConversionMode(frame.isFullRange() ? SDL_YUV_CONVERSION_JPEG
                                                          : SDL_YUV_CONVERSION_BT601);
        return sdl_.SDL_UpdateYUVTexture(video.texture, nullptr, p[0].data,
                                         static_cast<int>(p[0].bytesPerRow), p[1].data,
                                         static_cast<int>(p[1].bytesPerRow), p[2].data,
                                         static_cast<int>(p[2].bytesPerRow)) == 0;
    }
    const ImagePtr image = frame.image();
    if (!image || image->pixelWidth() != video.width || image->pixelHeight() != video.height)
        return false;
    return sdl_.SDL_UpdateTexture(video.texture, nullptr, image->rgba().data(),
                                  video.width * Image::bytesPerPixel) == 0;
}

void WindowPresenter::drawVideo(const GraphicsContext::VideoPlacement& placement,
                                const ui::Layer::VideoContent& content) {
    VideoTexture& video = videos_[placement.source.get()];
    video.source = placement.source;
    video.placed = true;

    const ui::Rect area = placement.rect.intersection(placement.clip);
    if (area.isEmpty()) {
        video.uploaded = content.frame;
        return;
    }
    const SDL_Rect clip{
        static_cast<int>(std::floor(area.minX())), static_cast<int>(std::floor(area.minY())),
        static_cast<int>(std::ceil(area.width())), static_cast<int>(std::ceil(area.height()))};
    const double alpha = std::clamp(placement.alpha, 0.0, 1.0);
    bool shows = false;
    if (content.frame) {
        if (content.frame != video.uploaded) {
            video.uploaded = nullptr;
            if (upload(video, *content.frame)) {
                video.uploaded = content.frame;
                count(video, content);
            }
        }
        shows = video.uploaded != nullptr;
    } else {
        video.uploaded = nullptr;
    }
    const ui::Rect fitted =
        shows ? GraphicsContext::fittedRect(
                    Size{static_cast<double>(video.width), static_cast<double>(video.height)},
                    placement.rect, content.fit)
              : ui::Rect::zero();
    sdl_.SDL_RenderSetClipRect(renderer_, &clip);
    // The background shows only where the picture leaves room (or lets it through).
    if (placement.background.alpha > 0 && !(alpha >= 1 && covers(fitted, area))) {
        const auto channel = [](double v) {
            return static_cast<Uint8>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
        };
        sdl_.SDL_SetRenderDrawBlendMode(renderer_, SDL_BLENDMODE_BLEND);
        sdl_.SDL_SetRenderDrawColor(
            renderer_, channel(placement.background.red), channel(placement.background.green),
            channel(placement.background.blue), channel(placement.background.alpha * alpha));
        const SDL_FRect rect = toSDL(placement.rect);
        sdl_.SDL_RenderFillRectF(renderer_, &rect);
    }
    if (shows) {
        const SDL_FRect destination = toSDL(fitted);
        sdl_.SDL_SetTextureBlendMode(video.texture,
                                     alpha < 1 ? SDL_BLENDMODE_BLEND : SDL_BLENDMODE_NONE);
        sdl_.SDL_SetTextureAlphaMod(video.texture, static_cast<Uint8>(std::lround(alpha * 255)));
        sdl_.SDL_RenderCopyF(renderer_, video.texture, nullptr, &destination);
    }
    sdl_.SDL_RenderSetClipRect(renderer_, nullptr);
}

void WindowPresenter::count(VideoTexture& video, const ui::Layer::VideoContent& content) {
    if (video.hasShown && content.frameDuration > 0) {
        const double step = content.frameTime - video.lastFrameTime;
        if (step > 0 && step <= longestDrop) {
            const long missed = std::lround(step / content.frameDuration) - 1;
            if (missed > 0)
                statistics_.videoFramesDropped += static_cast<std::uint64_t>(missed);
        }
    }
    video.lastFrameTime = content.frameTime;
    video.hasShown = true;
    ++statistics_.videoFramesShown;
}

bool WindowPresenter::coversWindow(int width, int height) const {
    const ui::Rect window = ui::Rect::make(0, 0, width, height);
    for (std::size_t i = 0; i < placements_.size(); ++i) {
        const auto& placement = placements_[i];
        const auto& frame = contents_[i].frame;
        if (!placement.hole || !frame || placement.alpha < 1)
            continue;
        const ui::Rect fitted = GraphicsContext::fittedRect(
            Size{static_cast<double>(frame->width()), static_cast<double>(frame->height())},
            placement.rect, contents_[i].fit);
        if (covers(placement.clip, window) && covers(fitted, window))
            return true;
    }
    return false;
}

void WindowPresenter::exposed() {
    presentNeeded_ = true;
}

bool WindowPresenter::refresh(double hostTime) {
    auto window = window_.lock();
    if (!window)
        return false;
    int width = 0, height = 0;
    if (sdl_.SDL_GetRendererOutputSize(renderer_, &width, &height) != 0 || width <= 0 ||
        height <= 0)
        return false;
    ++statistics_.refreshes;
    const bool changed = !drawnOnce_ || redrawNeeded_ || width != interfaceWidth_ ||
                         height != interfaceHeight_ ||
                         ui::UIThreadChecker::mutationCount() != drawnMutations_;
    if (changed) {
        const Drawn drawn = rasterise(*window, width, height);
        if (drawn == Drawn::failed)
            return false;
        if (drawn == Drawn::changed && !interfaceChangedAt_)
            interfaceChangedAt_ = hostTime;
    }

    // The frame each video layer has for this refresh. Nothing new to show (the same frames,
    // the same interface) leaves the window as it is on screen.
    contents_.assign(placements_.size(), ui::Layer::VideoContent{});
    for (std::size_t i = 0; i < placements_.size(); ++i) {
        const auto& placement = placements_[i];
        auto layer = std::dynamic_pointer_cast<const ui::Layer>(placement.source);
        if (!layer)
            continue;
        contents_[i] = layer->videoContent(hostTime);
        if (!placement.hole) {
            // Drawn without a picture; now that one has come the interface is drawn again.
            if (contents_[i].frame) {
                redrawNeeded_ = true;
                presentNeeded_ = true;
            }
            continue;
        }
        const auto video = videos_.find(placement.source.get());
        if (video == videos_.end() || video->second.uploaded != contents_[i].frame) {
            presentNeeded_ = true;
            lastNewFrameAt_ = hostTime;
        }
    }
    // While a video plays, a change of the interface alone (a slider that follows the time)
    // waits for the video's next frame, at most a little longer than a frame of a slow video:
    // each present draws the whole window, and one per frame is enough.
    if (interfaceChangedAt_ && !presentNeeded_) {
        const bool videoPlays = hostTime - lastNewFrameAt_ < videoPlayingGap;
        if (!videoPlays || hostTime - *interfaceChangedAt_ >= interfaceWaitBound)
            presentNeeded_ = true;
    }
    if (!presentNeeded_)
        return false;

    // (A picture that fills the window leaves nothing of the black to see.)
    if (!coversWindow(width, height)) {
        sdl_.SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
        sdl_.SDL_RenderClear(renderer_);
    }
    for (auto& [source, video] : videos_) video.placed = false;
    for (std::size_t i = 0; i < placements_.size(); ++i)
        if (placements_[i].hole)
            drawVideo(placements_[i], contents_[i]);
    contents_.clear();
    for (auto it = videos_.begin(); it != videos_.end();) {
        if (!it->second.placed || it->second.source.expired()) {
            if (it->second.texture)
                sdl_.SDL_DestroyTexture(it->second.texture);
            it = videos_.erase(it);
        } else {
            ++it;
        }
    }
    // Only the parts of the interface that cover anything are blended over the video.
    for (const SDL_Rect& band : overlay_) {
        const SDL_FRect to{static_cast<float>(band.x), static_cast<float>(band.y),
                           static_cast<float>(band.w), static_cast<float>(band.h)};
        sdl_.SDL_RenderCopyF(renderer_, interface_, &band, &to);
    }
    sdl_.SDL_RenderPresent(renderer_);
    presentNeeded_ = false;
    interfaceChangedAt_.reset();
    ++statistics_.presents;
    return true;
}

}  // namespace pindle::platform::display
