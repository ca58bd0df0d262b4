// CharacterSet: a set of ASCII characters, for percent-escaping.
//
// The platform's URL component sets are provided. Sets hold only ASCII characters: every
// byte of a non-ASCII character is always escaped, whichever set is used.
//
// Thread-safety: a plain value type.
#pragma once

#include <bitset>
#include <string_view>

namespace pindle::platform {

class CharacterSet {
  public:
    CharacterSet() = default;
    // The ASCII characters of `characters` (other bytes are ignored).
    explicit CharacterSet(std::string_view characters);

    // Letters, digits and "-._~!$&'()*+,;=:@/?".
    static CharacterSet urlQueryAllowed();
    // Same as the query set.
    static CharacterSet urlFragmentAllowed();
    // Letters, digits and "-._~!$&'()*+,=:@/" (no ';').
    static CharacterSet urlPathAllowed();
    // Letters, digits and "-._~!$&'()*+,;=:[]".
    static CharacterSet urlHostAllowed();
    // Letters, digits and "-._~!$&'()*+,;=".
    static CharacterSet urlUserAllowed();
    static CharacterSet urlPasswordAllowed();
    // ASCII letters and digits.
    static CharacterSet alphanumerics();

    bool contains(char c) const;
    CharacterSet adding(std::string_view characters) const;
    CharacterSet removing(std::string_view characters) const;
    CharacterSet unionWith(const CharacterSet& other) const;

    bool operator==(const CharacterSet&) const = default;

  private:
    std::bitset<128> members_;
};

}  // namespace pindle::platform
