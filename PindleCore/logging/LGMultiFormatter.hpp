// LGMultiFormatter: a chain of formatters: each link formats the previous link's text (handed
// to it as a copy of the message with that text), and a link that drops the message drops
// it for the whole chain. An empty chain returns the message's text.
//
// Thread-safety: all operations are safe from any thread. The chain calls its links
// outside its lock, on the formatting thread, so a link may change the chain.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "PindleCore/logging/LGLogFormatter.hpp"

namespace pindle {

class LGMultiFormatter : public LGLogFormatter {
  public:
    LGMultiFormatter() = default;
    LGMultiFormatter(const LGMultiFormatter&) = delete;
    LGMultiFormatter& operator=(const LGMultiFormatter&) = delete;

    std::optional<std::string> formatLogMessage(const LGLogMessage& logMessage) override;

    // A copy of the chain, in order.
    std::vector<LGLogFormatterPtr> formatters() const;
    void addFormatter(LGLogFormatterPtr formatter);
    // Removes every entry of `formatter`.
    void removeFormatter(const LGLogFormatterPtr& formatter);
    void removeAllFormatters();
    bool isFormattingWithFormatter(const LGLogFormatterPtr& formatter) const;

  private:
    mutable std::mutex mutex_;
    std::vector<LGLogFormatterPtr> formatters_;  // guarded by mutex_
};

}  // namespace pindle
