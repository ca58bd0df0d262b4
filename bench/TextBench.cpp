// Text: shaping and drawing a label of the player's size, as a window presenter redraws it.
#include <benchmark/benchmark.h>

#include "platform/ui/Label.hpp"
#include "platform/ui/View.hpp"

namespace {

using namespace pindle::platform::ui;

ViewPtr labelOnCanvas(LabelPtr* made) {
    auto root = View::make(Rect::make(0, 0, 375, 60));
    root->setBackgroundColor(Color::black());
    auto label = Label::make(Rect::make(10, 10, 355, 40));
    label->setTextColor(Color::whiteColor());
    root->addSubview(label);
    *made = label;
    return root;
}

// A new text each time: shaping, line fitting and drawing (glyphs come from the cache after
// the first round).
void BM_ShapeAndDrawLabel(benchmark::State& state) {
    LabelPtr label;
    auto root = labelOnCanvas(&label);
    int round = 0;
    for (auto _ : state) {
        label->setText("Video is unavailable (" + std::to_string(round++ % 1000) + ")");
        benchmark::DoNotOptimize(root->snapshotImage(2.0));
    }
}
BENCHMARK(BM_ShapeAndDrawLabel);

// The same text again: the layer's kept layout, drawing only.
void BM_RedrawLabel(benchmark::State& state) {
    LabelPtr label;
    auto root = labelOnCanvas(&label);
    label->setText("Video is unavailable");
    for (auto _ : state) benchmark::DoNotOptimize(root->snapshotImage(2.0));
}
BENCHMARK(BM_RedrawLabel);

}  // namespace
