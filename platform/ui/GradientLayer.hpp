// GradientLayer: a layer that draws a linear gradient between colours at given locations
// (0 to 1 along the line from startPoint to endPoint, in unit coordinates of the bounds).
// As a mask it lets its superlayer show by the gradient's alpha. Only horizontal gradients
// (equal start and end y) are drawn; a gradient along any other line draws its first
// colour.
//
// Thread-safety: as Layer: safe from any thread. No callbacks.
#pragma once

#include <mutex>
#include <vector>

#include "platform/ui/Layer.hpp"

namespace pindle::platform::ui {

class GradientLayer;
using GradientLayerPtr = std::shared_ptr<GradientLayer>;

class GradientLayer : public Layer {
  public:
    static GradientLayerPtr make() { return std::make_shared<GradientLayer>(); }

    std::vector<Color> colors() const;
    void setColors(std::vector<Color> colours);
    // Empty: the colours spread evenly.
    std::vector<double> locations() const;
    void setLocations(std::vector<double> locations);
    Point startPoint() const;
    void setStartPoint(Point point);
    Point endPoint() const;
    void setEndPoint(Point point);

    // The colour at `fraction` (0 to 1) along the gradient; clear with no colours.
    Color colorAt(double fraction) const;

  protected:
    void drawContents(GraphicsContext& context, const Rect& bounds) const override;

  private:
    mutable std::mutex mutex_;
    std::vector<Color> colours_;     // guarded by mutex_
    std::vector<double> locations_;  // guarded by mutex_
    Point start_{0.5, 0};            // guarded by mutex_
    Point end_{0.5, 1};              // guarded by mutex_
};

}  // namespace pindle::platform::ui
