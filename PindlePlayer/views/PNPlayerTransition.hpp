// PNPlayerTransition: the animated switch from one video to the next: a direction (or a
// cross-fade) and its duration in seconds, used unchanged (no bounds). Two transitions are
// equal when both the kind and the duration are.
//
// Thread-safety: a plain value.
#pragma once

namespace pindle {

struct PNPlayerTransition {
    enum class Kind { up = 0, down = 1, left = 2, right = 3, fade = 4 };

    Kind kind = Kind::fade;
    double duration = 0;

    static constexpr PNPlayerTransition up(double duration) { return {Kind::up, duration}; }
    static constexpr PNPlayerTransition down(double duration) { return {Kind::down, duration}; }
    static constexpr PNPlayerTransition left(double duration) { return {Kind::left, duration}; }
    static constexpr PNPlayerTransition right(double duration) { return {Kind::right, duration}; }
    static constexpr PNPlayerTransition fade(double duration) { return {Kind::fade, duration}; }

    bool operator==(const PNPlayerTransition&) const = default;
};

}  // namespace pindle
