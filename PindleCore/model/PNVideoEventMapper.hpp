// PNVideoEventMapper: maps the elements of a list reply to video records straight from the JSON
// reader's events, so that no element is ever built as a value: each element that is a video
// object becomes a record the moment its closing brace is read, exactly the record
// PNJSONParser maps from the element's parsed value; any other element is passed over.
//
// The events of an element cut short by a refusal make no record; the caller drops the records
// made before it (the reply is no list then).
//
// Thread-safety: none; the events come from the one thread that feeds the reader.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoMembers.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {

class PNVideoEventMapper final : public platform::Json::Events {
  public:
    // The records go to the end of `videos`, which outlives the mapper.
    explicit PNVideoEventMapper(std::vector<std::shared_ptr<PNVideo>>& videos);

    PNVideoEventMapper(const PNVideoEventMapper&) = delete;
    PNVideoEventMapper& operator=(const PNVideoEventMapper&) = delete;

    void beginObject() override { open(true); }
    void memberName(std::string_view name) override;
    void endObject() override { close(); }
    void beginArray() override { open(false); }
    void endArray() override { close(); }
    void string(std::string_view text) override;
    void integer(std::int64_t number) override;
    void real(double number) override;
    void boolean(bool) override { other(); }
    void null() override { other(); }

  private:
    // Depths of the parts that matter: the element itself, a member of a video object, an entry
    // of a member that is an object or an array ("mp4Url", "metadata", "tags").
    static constexpr int elementDepth = 0;
    static constexpr int memberDepth = 1;
    static constexpr int entryDepth = 2;

    void open(bool isObject);
    void close();
    // A value that is neither a string nor a number.
    void other();
    void entry(std::optional<std::string_view> text);

    std::vector<std::shared_ptr<PNVideo>>& videos_;
    int depth_ = 0;                                         // containers open inside the element
    bool inVideo_ = false;                                  // the element is an object
    PNVideoMembers members_;                                // of the video object being read
    PNVideoMembers::Key key_ = PNVideoMembers::Key::other;  // of the member being read
    PNVideoMembers::Container container_ = PNVideoMembers::Container::none;  // that member's
    std::string entryName_;  // of the entry being read
};

}  // namespace pindle
