// SystemLogQuery: a search of the system log: a list of conditions, each comparing one key
// of a record with a value, that a record must all meet.
//
// A numeric condition compares both sides as signed 64-bit decimal numbers; a record whose
// value is missing or not a number fails it. A text condition compares bytewise.
//
// Thread-safety: a plain value type.
#pragma once

#include <string>
#include <vector>

#include "platform/log/SystemLogMessage.hpp"

namespace pindle::platform {

class SystemLogQuery {
  public:
    enum class Comparison { equal, notEqual, greater, greaterOrEqual, less, lessOrEqual };

    struct Condition {
        std::string key;
        Comparison comparison = Comparison::equal;
        std::string value;
        bool numeric = false;
    };

    void add(std::string key, Comparison comparison, std::string value, bool numeric);
    const std::vector<Condition>& conditions() const { return conditions_; }

    bool matches(const SystemLogMessage& record) const;

  private:
    std::vector<Condition> conditions_;
};

}  // namespace pindle::platform
