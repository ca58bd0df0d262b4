#pragma once

// Private to the platform library: the keys under which an Operation reports its state to
// key-value observers, shared by Operation (which announces their changes) and OperationQueue
// (which watches them). Constants; safe from any thread.

#include <string_view>

namespace pindle::platform::operation_keys {

inline constexpr std::string_view cancelled = "isCancelled";
inline constexpr std::string_view executing = "isExecuting";
inline constexpr std::string_view finished = "isFinished";
inline constexpr std::string_view ready = "isReady";

}  // namespace pindle::platform::operation_keys
