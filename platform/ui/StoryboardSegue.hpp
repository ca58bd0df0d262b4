// StoryboardSegue: a transition from one view controller to another named in a storyboard;
// the source's prepare(for:sender:) sees it before it runs. An embed segue places the
// destination as a child of the source when the source's view loads.
//
// Thread-safety: a plain value.
#pragma once

#include <memory>
#include <string>

namespace pindle::platform::ui {

class ViewController;

struct StoryboardSegue {
    std::string identifier;
    std::shared_ptr<ViewController> source;
    std::shared_ptr<ViewController> destination;
};

}  // namespace pindle::platform::ui
