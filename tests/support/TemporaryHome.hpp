// Puts the application container's home in a fresh scratch folder for the life of the
// object, then gives the former home back and removes the folder.
#pragma once

#include <filesystem>
#include <string>

#include "platform/files/AppContainer.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::testing {

class TemporaryHome {
  public:
    explicit TemporaryHome(const std::string& prefix = "home-")
        : formerHome_(platform::AppContainer::home()), path_(makeScratchFolder(prefix)) {
        platform::AppContainer::setHome(path_);
    }
    ~TemporaryHome() {
        platform::AppContainer::setHome(formerHome_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string formerHome_;
    std::string path_;
};

}  // namespace pindle::testing
