// PServiceLocator: the legacy part's registry of implementations by protocol name.
//
// Classes are recorded by name, instances as object references; a later registration for the
// same protocol replaces the earlier one. There is no lookup beyond reading the maps.
//
// Thread-safety: guarded by one lock; readers get copies.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/foundation/Object.hpp"

namespace pindle::legacy {

class PServiceLocator {
  public:
    PServiceLocator() = default;
    PServiceLocator(const PServiceLocator&) = delete;
    PServiceLocator& operator=(const PServiceLocator&) = delete;

    void registerClass(const std::string& className, const std::string& protocolName);
    void registerInstance(std::shared_ptr<platform::Object> instance,
                          const std::string& protocolName);

    std::map<std::string, std::string> classMapping() const;
    std::map<std::string, std::shared_ptr<platform::Object>> instanceMapping() const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> classMapping_;                           // guarded by mutex_
    std::map<std::string, std::shared_ptr<platform::Object>> instanceMapping_;  // guarded by mutex_
};

}  // namespace pindle::legacy
