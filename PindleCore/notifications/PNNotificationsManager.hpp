// PNNotificationsManager: connects the backend's live notification channel.
//
// For now only the entry point exists; the WebSocket client arrives with the live
// notifications layer. Connect() is counted so its callers can be checked.
//
// Thread-safety: safe from any thread.
#pragma once

#include <atomic>

namespace pindle {

class PNNotificationsManager {
  public:
    static PNNotificationsManager& sharedInstance();

    PNNotificationsManager(const PNNotificationsManager&) = delete;
    PNNotificationsManager& operator=(const PNNotificationsManager&) = delete;

    void Connect();
    int connectCount() const { return connects_.load(); }

  private:
    PNNotificationsManager() = default;
    std::atomic<int> connects_{0};
};

}  // namespace pindle
