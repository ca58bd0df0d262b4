#include "PindleCore/model/PNCancellable.hpp"

namespace pindle {

PNCancellable::~PNCancellable() = default;

}  // namespace pindle
