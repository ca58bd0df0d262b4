#include "tools/emulator/Request.hpp"

namespace pindle::emulator {

std::string Request::path() const {
    return target.substr(0, target.find('?'));
}

std::string Request::rawQuery() const {
    auto mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

bool Request::hasQuery() const {
    return target.find('?') != std::string::npos;
}

}  // namespace pindle::emulator
