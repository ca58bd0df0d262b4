#include "PindleCore/notifications/PNNotificationsManager.hpp"

namespace pindle {

PNNotificationsManager& PNNotificationsManager::sharedInstance() {
    static PNNotificationsManager* manager = new PNNotificationsManager;
    return *manager;
}

void PNNotificationsManager::Connect() {
    ++connects_;
}

}  // namespace pindle
