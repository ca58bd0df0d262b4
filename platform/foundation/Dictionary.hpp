// Dictionary: the string-keyed dictionary of Values, with the interface of a sorted map.
//
// Members are kept in one array sorted by key (byte order), so a parsed JSON object of a
// dozen members is one allocation instead of a dozen tree nodes, and lookups are a binary
// search. Iteration yields `std::pair<std::string, Value>` in key order, as a std::map would.
// Unlike a node-based map, inserting or erasing a member moves the others: a pointer,
// reference or iterator to a member is valid only until the dictionary next changes size.
// So `d["a"] = d["b"]` may read a member the insertion of "a" has moved; write
// `d.insert_or_assign("a", d.at("b"))`, which copies the member before inserting.
// Inserting keys in ascending order costs no moves; an arbitrary insertion moves the members
// after it, so large dictionaries built from unsorted input should come from fromEntries().
//
// Thread-safety: a plain value type; concurrent reads are safe, writes need external
// synchronisation like any standard container.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindle::platform {

class Value;

class Dictionary {
  public:
    using key_type = std::string;
    using mapped_type = Value;
    using value_type = std::pair<std::string, Value>;
    using Entries = std::vector<value_type>;
    using iterator = Entries::iterator;
    using const_iterator = Entries::const_iterator;
    using reverse_iterator = Entries::reverse_iterator;
    using const_reverse_iterator = Entries::const_reverse_iterator;
    using size_type = std::size_t;

    Dictionary() = default;
    // Where a key repeats, the first entry is kept (as a map's insert would).
    Dictionary(std::initializer_list<value_type> entries);
    template <class InputIt>
    Dictionary(InputIt first, InputIt last) {
        insert(first, last);
    }
    // A dictionary of `entries`, given in any order and moved out; where a key repeats, the
    // last entry wins (as in a JSON object read member by member). Each entry moves once,
    // straight to its place, instead of being inserted one by one.
    static Dictionary fromEntries(std::span<value_type> entries);

    // The members that touch the entries are defined after Value (in Value.hpp): the array's
    // element type needs the complete Value.
    iterator begin();
    iterator end();
    const_iterator begin() const;
    const_iterator end() const;
    const_iterator cbegin() const;
    const_iterator cend() const;
    reverse_iterator rbegin();
    reverse_iterator rend();
    const_reverse_iterator rbegin() const;
    const_reverse_iterator rend() const;

    bool empty() const;
    size_type size() const;
    void clear();
    void reserve(size_type count);

    iterator find(std::string_view key);
    const_iterator find(std::string_view key) const;
    size_type count(std::string_view key) const;
    bool contains(std::string_view key) const;
    iterator lower_bound(std::string_view key);
    const_iterator lower_bound(std::string_view key) const;
    // REQUIRES (or throws std::out_of_range): the key is present.
    Value& at(std::string_view key);
    const Value& at(std::string_view key) const;

    // The member under `key`, inserted as null when absent.
    Value& operator[](std::string_view key);

    // Each inserts only when the key is absent and gives the member under the key and
    // whether it was inserted.
    std::pair<iterator, bool> insert(value_type&& entry);
    std::pair<iterator, bool> insert(const value_type& entry);
    template <class InputIt>
    void insert(InputIt first, InputIt last) {
        for (; first != last; ++first) insert(*first);
    }
    void insert(std::initializer_list<value_type> entries);
    template <class Key, class... Args>
    std::pair<iterator, bool> emplace(Key&& key, Args&&... args);
    std::pair<iterator, bool> try_emplace(std::string_view key);  // inserts null
    std::pair<iterator, bool> try_emplace(std::string_view key, Value value);
    // Inserts, or replaces the member already under the key.
    std::pair<iterator, bool> insert_or_assign(std::string_view key, Value value);

    size_type erase(std::string_view key);
    iterator erase(const_iterator position);
    iterator erase(const_iterator first, const_iterator last);

    void swap(Dictionary& other) noexcept;
    bool operator==(const Dictionary& other) const;

  private:
    Entries entries_;  // sorted by key, keys unique
};

}  // namespace pindle::platform

// The inline members above, and Value itself.
#include "platform/foundation/Value.hpp"
