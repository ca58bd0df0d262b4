// PNTaskCancellable: a URL session task handed out as a PNCancellable.
//
// Every REST call and streamed download returns its task wrapped so; cancelIt() writes
// "DATA_REQUEST_CANCELLED_" and a label on the RQST channel, then cancels the task. The label
// is "VIDEO_" and the identifier for media URLs whose last-but-one piece is a UUID, else the
// whole URL text.
//
// Thread-safety: cancelIt() may be called from any thread, any number of times.
#pragma once

#include <memory>
#include <string>

#include "PindleCore/model/PNCancellable.hpp"
#include "platform/net/URLSessionTask.hpp"

namespace pindle {

class PNTaskCancellable : public PNCancellable {
  public:
    explicit PNTaskCancellable(std::shared_ptr<platform::URLSessionTask> task)
        : task_(std::move(task)) {}

    void cancelIt() override;
    const std::shared_ptr<platform::URLSessionTask>& task() const { return task_; }

    // The label of a task's URL text in cancellation log lines.
    static std::string cancellationLabel(const std::string& urlText);
    // The last-but-one non-empty "/"-separated piece of a URL text (for a media URL, the
    // video identifier); empty when there are fewer than two pieces.
    static std::string lastButOnePiece(const std::string& urlText);

  private:
    const std::shared_ptr<platform::URLSessionTask> task_;
};

// A cancellable for a call that was refused before anything was sent: cancelling does nothing.
class PNRefusedCall : public PNCancellable {
  public:
    void cancelIt() override {}
};

}  // namespace pindle
