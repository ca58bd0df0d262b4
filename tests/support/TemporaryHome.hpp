// Puts the application container's home in a fresh temporary folder for the life of the
// object, then gives the former home back and removes the folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/files/AppContainer.hpp"

namespace pindle::testing {

class TemporaryHome {
  public:
    TemporaryHome() : formerHome_(platform::AppContainer::home()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pindle-playlists-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
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
