#include "PindleCore/model/PNVideoEventMapper.hpp"

namespace pindle {

PNVideoEventMapper::PNVideoEventMapper(std::vector<std::shared_ptr<PNVideo>>& videos)
    : videos_(videos) {}

void PNVideoEventMapper::open(bool isObject) {
    if (depth_ == elementDepth) {
        inVideo_ = isObject;
        if (inVideo_)
            members_ = PNVideoMembers();
    } else if (inVideo_ && depth_ == memberDepth) {
        container_ = members_.open(key_, isObject);
    } else if (inVideo_ && depth_ == entryDepth) {
        entry(std::nullopt);
    }
    ++depth_;
}

void PNVideoEventMapper::close() {
    --depth_;
    if (depth_ == memberDepth) {
        container_ = PNVideoMembers::Container::none;
    } else if (depth_ == elementDepth && inVideo_) {
        inVideo_ = false;
        if (std::shared_ptr<PNVideo> video = std::move(members_).makeVideo())
            videos_.push_back(std::move(video));
    }
}

void PNVideoEventMapper::memberName(std::string_view name) {
    if (!inVideo_)
        return;
    if (depth_ == memberDepth)
        key_ = PNVideoMembers::key(name);
    else if (depth_ == entryDepth)
        entryName_.assign(name);
}

void PNVideoEventMapper::string(std::string_view text) {
    if (inVideo_ && depth_ == memberDepth)
        members_.setText(key_, text);
    else if (inVideo_ && depth_ == entryDepth)
        entry(text);
}

void PNVideoEventMapper::integer(std::int64_t number) {
    if (inVideo_ && depth_ == memberDepth)
        members_.setInteger(key_, number);
    else
        other();
}

void PNVideoEventMapper::real(double number) {
    if (inVideo_ && depth_ == memberDepth)
        members_.setReal(key_, number);
    else
        other();
}

void PNVideoEventMapper::other() {
    if (inVideo_ && depth_ == memberDepth)
        members_.setOther(key_);
    else if (inVideo_ && depth_ == entryDepth)
        entry(std::nullopt);
}

void PNVideoEventMapper::entry(std::optional<std::string_view> text) {
    // An array's elements have no name; an object's entries had theirs just before.
    members_.setEntry(container_,
                      container_ == PNVideoMembers::Container::tags ? std::string_view()
                                                                    : std::string_view(entryName_),
                      text);
}

}  // namespace pindle
