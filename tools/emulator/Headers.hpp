#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindle::emulator {

// An ordered list of HTTP header fields with case-insensitive lookup by name. Fields keep
// the order and spelling in which they were added, so a request log shows exactly what the
// client sent.
// Thread-safety: a plain value; not safe for concurrent mutation.
class Headers {
  public:
    using Field = std::pair<std::string, std::string>;

    Headers() = default;
    Headers(std::initializer_list<Field> fields);

    // Appends a field; an existing field of the same name is kept.
    void add(std::string name, std::string value);
    // Replaces every field of that name by one field.
    void set(std::string name, std::string value);
    void remove(std::string_view name);

    // The value of the first field of that name.
    std::optional<std::string> get(std::string_view name) const;
    bool contains(std::string_view name) const { return get(name).has_value(); }

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    auto begin() const { return fields_.begin(); }
    auto end() const { return fields_.end(); }

    static bool sameName(std::string_view a, std::string_view b);

  private:
    std::vector<Field> fields_;
};

}  // namespace pindle::emulator
