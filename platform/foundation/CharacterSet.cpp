#include "platform/foundation/CharacterSet.hpp"

namespace pindle::platform {

namespace {

constexpr std::string_view unreservedPunctuation = "-._~";
constexpr std::string_view subDelimiters = "!$&'()*+,;=";

}  // namespace

CharacterSet::CharacterSet(std::string_view characters) {
    for (char c : characters) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < members_.size())
            members_.set(byte);
    }
}

CharacterSet CharacterSet::alphanumerics() {
    static const CharacterSet set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    return set;
}

CharacterSet CharacterSet::urlQueryAllowed() {
    return alphanumerics().adding(unreservedPunctuation).adding(subDelimiters).adding(":@/?");
}

CharacterSet CharacterSet::urlFragmentAllowed() {
    return urlQueryAllowed();
}

CharacterSet CharacterSet::urlPathAllowed() {
    return alphanumerics()
        .adding(unreservedPunctuation)
        .adding(subDelimiters)
        .adding(":@/")
        .removing(";");
}

CharacterSet CharacterSet::urlHostAllowed() {
    return alphanumerics().adding(unreservedPunctuation).adding(subDelimiters).adding(":[]");
}

CharacterSet CharacterSet::urlUserAllowed() {
    return alphanumerics().adding(unreservedPunctuation).adding(subDelimiters);
}

CharacterSet CharacterSet::urlPasswordAllowed() {
    return urlUserAllowed();
}

bool CharacterSet::contains(char c) const {
    const auto byte = static_cast<unsigned char>(c);
    return byte < members_.size() && members_.test(byte);
}

CharacterSet CharacterSet::adding(std::string_view characters) const {
    return unionWith(CharacterSet(characters));
}

CharacterSet CharacterSet::removing(std::string_view characters) const {
    CharacterSet result = *this;
    result.members_ &= ~CharacterSet(characters).members_;
    return result;
}

CharacterSet CharacterSet::unionWith(const CharacterSet& other) const {
    CharacterSet result = *this;
    result.members_ |= other.members_;
    return result;
}

}  // namespace pindle::platform
