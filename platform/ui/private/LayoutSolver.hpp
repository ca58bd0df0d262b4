// LayoutSolver: places the subviews of one view from their active constraints.
//
// It is not a general linear solver. Per subview and per axis it gathers the equalities
// that pin an edge, the centre or the size to the superview, to a sibling (as it stands,
// siblings being placed in subview order), to another view in the tree, or to a constant,
// and combines them: two of {leading edge, trailing edge, centre, size} fix the axis; an edge
// or the centre alone takes the intrinsic size, else the current size; >= and <= bound the
// size. That covers edges pinned to a superview, centring, fixed sizes and chains of
// siblings. Subviews that translate their autoresizing mask are left to autoresizing, and an
// axis with no constraint keeps its frame. A set that contradicts itself (both edges and a
// different size) keeps the frame and is reported on standard error, at most a few times
// per process.
//
// Thread-safety: call it from the layout pass (View::layoutSubviews). No callbacks.
#pragma once

namespace pindle::platform::ui {

class View;

class LayoutSolver {
  public:
    LayoutSolver() = delete;
    static void layoutSubviews(View& superview);
};

}  // namespace pindle::platform::ui
