#include "PindleCore/legacy/PServiceLocator.hpp"

namespace pindle::legacy {

void PServiceLocator::registerClass(const std::string& className, const std::string& protocolName) {
    std::lock_guard lock(mutex_);
    classMapping_[protocolName] = className;
}

void PServiceLocator::registerInstance(std::shared_ptr<platform::Object> instance,
                                       const std::string& protocolName) {
    std::lock_guard lock(mutex_);
    instanceMapping_[protocolName] = std::move(instance);
}

std::map<std::string, std::string> PServiceLocator::classMapping() const {
    std::lock_guard lock(mutex_);
    return classMapping_;
}

std::map<std::string, std::shared_ptr<platform::Object>> PServiceLocator::instanceMapping() const {
    std::lock_guard lock(mutex_);
    return instanceMapping_;
}

}  // namespace pindle::legacy
