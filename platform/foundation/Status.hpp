// Status: what an operation that yields no value reports: success, or the Error it failed
// with.
//
// It reads the right way round at the call:
//
//     if (!files.removeItem(path).ok()) ...        // the removal failed
//     if (const platform::Status written = handle.write(bytes); !written.ok())
//         return fail(written.error());
//
// It has no conversion to bool, so a bare `if (files.removeItem(path))` does not compile, and
// it is [[nodiscard]]: a call whose failure changes nothing says so with `.ignoreError()`.
// Functions return `Status::success()` (or `{}`) for success and an Error for failure.
// Completions take their error as std::optional<Error>, engaged when the work failed; a
// Status converts to that form where it is handed on, and is made from it.
//
// Spell it `platform::Status`, in platform/ too: several platform classes (AssetWriter,
// MediaTranscoder, PlayerItem, ...) have a nested `Status` enum that a bare name would mean.
//
// Thread-safety: a plain value type.
#pragma once

#include <optional>
#include <utility>

#include "platform/foundation/Error.hpp"

namespace pindle::platform {

class [[nodiscard]] Status {
  public:
    // Success.
    Status() = default;
    Status(std::nullopt_t) {}
    // Failure with `error`.
    Status(Error error) : error_(std::move(error)) {}
    // Failure when `error` is engaged, else success.
    Status(std::optional<Error> error) : error_(std::move(error)) {}

    static Status success() { return {}; }

    bool ok() const { return !error_.has_value(); }

    // REQUIRES: !ok()
    const Error& error() const { return *error_; }

    // The error as completions take it: engaged when this is a failure.
    operator const std::optional<Error>&() const { return error_; }

    // Drops a failure that does not matter at this call (a best-effort cleanup).
    void ignoreError() const {}

    bool operator==(const Status& other) const = default;

  private:
    std::optional<Error> error_;
};

}  // namespace pindle::platform
