#include "platform/foundation/Dictionary.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <stdexcept>

#include "platform/foundation/Value.hpp"

namespace pindle::platform {

namespace {

bool keyLess(const Dictionary::value_type& entry, std::string_view key) {
    return std::string_view(entry.first) < key;
}

// Objects read from JSON have a handful of members: their order is found by insertion into a
// small array on the stack, where a stable sort would take a buffer for every object.
constexpr std::size_t insertionSortLimit = 32;

}  // namespace

Dictionary::Dictionary(std::initializer_list<value_type> entries) {
    insert(entries);
}

Dictionary Dictionary::fromEntries(std::span<value_type> entries) {
    const std::size_t count = entries.size();
    std::array<std::uint32_t, insertionSortLimit> smallOrder;
    std::vector<std::uint32_t> largeOrder;
    std::uint32_t* order = smallOrder.data();
    if (count > insertionSortLimit) {
        largeOrder.resize(count);
        order = largeOrder.data();
    }
    std::iota(order, order + count, 0U);
    // Positions are sorted stably by key, so of a run of equal keys the last is the latest.
    const auto keyOrder = [&entries](std::uint32_t a, std::uint32_t b) {
        return entries[a].first < entries[b].first;
    };
    if (count > insertionSortLimit) {
        std::stable_sort(order, order + count, keyOrder);
    } else {
        for (std::size_t next = 1; next < count; ++next) {
            const std::uint32_t moving = order[next];
            std::size_t hole = next;
            for (; hole > 0 && keyOrder(moving, order[hole - 1]); --hole)
                order[hole] = order[hole - 1];
            order[hole] = moving;
        }
    }
    Dictionary dictionary;
    dictionary.entries_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        value_type& entry = entries[order[i]];
        if (i + 1 < count && entries[order[i + 1]].first == entry.first)
            continue;
        dictionary.entries_.push_back(std::move(entry));
    }
    return dictionary;
}

Dictionary::iterator Dictionary::lower_bound(std::string_view key) {
    return std::lower_bound(entries_.begin(), entries_.end(), key, keyLess);
}

Dictionary::const_iterator Dictionary::lower_bound(std::string_view key) const {
    return std::lower_bound(entries_.begin(), entries_.end(), key, keyLess);
}

Dictionary::iterator Dictionary::find(std::string_view key) {
    const iterator place = lower_bound(key);
    return place != end() && place->first == key ? place : end();
}

Dictionary::const_iterator Dictionary::find(std::string_view key) const {
    const const_iterator place = lower_bound(key);
    return place != end() && place->first == key ? place : end();
}

bool Dictionary::contains(std::string_view key) const {
    return find(key) != end();
}

Value& Dictionary::at(std::string_view key) {
    const iterator place = find(key);
    if (place == end())
        throw std::out_of_range("Dictionary::at: no member \"" + std::string(key) + "\"");
    return place->second;
}

const Value& Dictionary::at(std::string_view key) const {
    return const_cast<Dictionary*>(this)->at(key);
}

std::pair<Dictionary::iterator, bool> Dictionary::try_emplace(std::string_view key) {
    return try_emplace(key, Value());
}

std::pair<Dictionary::iterator, bool> Dictionary::try_emplace(std::string_view key, Value value) {
    if (entries_.empty() || std::string_view(entries_.back().first) < key) {
        entries_.emplace_back(key, std::move(value));
        return {entries_.end() - 1, true};
    }
    const iterator place = lower_bound(key);
    if (place != end() && place->first == key)
        return {place, false};
    return {entries_.emplace(place, key, std::move(value)), true};
}

std::pair<Dictionary::iterator, bool> Dictionary::insert_or_assign(std::string_view key,
                                                                   Value value) {
    auto [place, inserted] = try_emplace(key);
    place->second = std::move(value);
    return {place, inserted};
}

Value& Dictionary::operator[](std::string_view key) {
    return try_emplace(key).first->second;
}

std::pair<Dictionary::iterator, bool> Dictionary::insert(const value_type& entry) {
    return insert(value_type(entry));
}

std::pair<Dictionary::iterator, bool> Dictionary::insert(value_type&& entry) {
    // Keys arriving in order (copies of other dictionaries, converted string dictionaries)
    // go to the end without a search.
    if (entries_.empty() || entries_.back().first < entry.first) {
        entries_.push_back(std::move(entry));
        return {entries_.end() - 1, true};
    }
    const iterator place = lower_bound(entry.first);
    if (place != end() && place->first == entry.first)
        return {place, false};
    return {entries_.insert(place, std::move(entry)), true};
}

void Dictionary::insert(std::initializer_list<value_type> entries) {
    for (const value_type& entry : entries) insert(entry);
}

Dictionary::size_type Dictionary::erase(std::string_view key) {
    const const_iterator place = std::as_const(*this).find(key);
    if (place == cend())
        return 0;
    entries_.erase(place);
    return 1;
}

bool Dictionary::operator==(const Dictionary& other) const {
    return entries_ == other.entries_;
}

}  // namespace pindle::platform
