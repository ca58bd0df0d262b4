#include "PindlePlayer/views/PNPlayerStoryboard.hpp"

#include <cmath>
#include <mutex>

#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"
#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"
#include "embedded/local_pindle_PindlePlayer.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/Storyboard.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;
using Event = ui::Control::Event;

// Room left on each side of a button's title, so that it never touches the edge.
constexpr double titleMargin = 6;

// The panel's scene: 335 by 80, the slider across the top, the buttons in a row below, each
// as wide as its title needs (at least 44) around its place in the row.
ui::ViewPtr buildControlView(PNPlayerControlPanelControlViewController& panel,
                             const platform::ResourceBundle& bundle) {
    auto root = ui::View::make(ui::Rect::make(0, 0, 335, 80));
    auto slider = ui::Slider::make(ui::Rect::make(0, 0, 335, 30));
    slider->setAutoresizingMask(ui::View::flexibleWidth);
    auto button = [&](double centreX, const char* key, const char* title) {
        auto b = ui::Button::make();
        b->setTitle(bundle.localizedString(key, title, ""));
        const auto size = b->intrinsicContentSize();
        const double width = std::ceil(size.width) + 2 * titleMargin;
        b->setFrame(ui::Rect::make(centreX - width / 2, 34, width, size.height));
        b->setAutoresizingMask(ui::View::flexibleLeftMargin | ui::View::flexibleRightMargin);
        root->addSubview(b);
        return b;
    };
    auto prev = button(82, "controlView.previous", "Previous");
    auto play = button(167.5, "controlView.play", "Play");
    auto pause = button(167.5, "controlView.pause", "Pause");
    auto next = button(253, "controlView.next", "Next");
    pause->setHidden(true);
    root->addSubview(slider);

    std::weak_ptr<PNPlayerControlPanelControlViewController> weak =
        std::static_pointer_cast<PNPlayerControlPanelControlViewController>(
            panel.shared_from_this());
    auto connect = [&weak](
                       const std::shared_ptr<ui::Control>& control, unsigned events,
                       void (PNPlayerControlPanelControlViewController::*action)(ui::Control&)) {
        control->addTarget(
            events,
            platform::weakly(weak, [action](PNPlayerControlPanelControlViewController& self,
                                            ui::Control& sender) { (self.*action)(sender); }));
    };
    connect(play, Event::touchUpInside, &PNPlayerControlPanelControlViewController::playPauseTap);
    connect(pause, Event::touchUpInside, &PNPlayerControlPanelControlViewController::playPauseTap);
    connect(prev, Event::touchUpInside, &PNPlayerControlPanelControlViewController::prevTap);
    connect(next, Event::touchUpInside, &PNPlayerControlPanelControlViewController::nextTap);
    connect(slider, Event::touchDown, &PNPlayerControlPanelControlViewController::draggingStarted);
    connect(slider, Event::touchUpInside | Event::touchUpOutside,
            &PNPlayerControlPanelControlViewController::dragged);
    connect(slider, Event::touchCancel,
            &PNPlayerControlPanelControlViewController::draggingCancelled);
    panel.connectOutlets({play, pause, prev, next, slider});
    return root;
}

ui::ViewPtr buildVolumeIndicator(PNPlayerVolumeIndicatorViewController& indicator) {
    auto root = ui::View::make(ui::Rect::make(0, 0, 375, 50));
    auto bar = ui::ProgressView::make(ui::Rect::make(0, 0, 375, 2));
    bar->setAutoresizingMask(ui::View::flexibleWidth);
    bar->setProgressTintColor(ui::Color::whiteColor());
    root->addSubview(bar);
    indicator.setVolumeBar(bar);
    return root;
}

platform::ResourceBundlePtr registerAll() {
    auto bundle = embedded::local_pindle_PindlePlayer();
    ui::Storyboard::Scene controlView{
        [bundle] {
            auto panel = std::make_shared<PNPlayerControlPanelControlViewController>();
            panel->setViewFactory([bundle](ui::ViewController& c) {
                return buildControlView(static_cast<PNPlayerControlPanelControlViewController&>(c),
                                        *bundle);
            });
            return panel;
        },
        {},
        {}};
    ui::Storyboard::Scene volumeIndicator{
        [] {
            auto indicator = std::make_shared<PNPlayerVolumeIndicatorViewController>();
            indicator->setViewFactory([](ui::ViewController& c) {
                return buildVolumeIndicator(static_cast<PNPlayerVolumeIndicatorViewController&>(c));
            });
            return indicator;
        },
        {},
        {}};
    ui::Storyboard::registerStoryboard(
        PNPlayerStoryboard::storyboardName, PNPlayerStoryboard::bundleIdentifier,
        {{PNPlayerStoryboard::controlViewScene, std::move(controlView)},
         {PNPlayerStoryboard::volumeIndicatorScene, std::move(volumeIndicator)}});
    return bundle;
}

platform::ResourceBundlePtr registered() {
    static const platform::ResourceBundlePtr bundle = registerAll();
    return bundle;
}

// The storyboard is registered when the library loads, as its bundle is, so hosts find both by
// name alone.
[[maybe_unused]] const bool registeredAtLoad = (registered(), true);

}  // namespace

platform::ResourceBundlePtr PNPlayerStoryboard::bundle() {
    return registered();
}

}  // namespace pindle
