// PNSafePath: the one gate through which a name from outside becomes a file path: a video
// identifier, a file name kept in a stored record, a name the backend or the host hands us.
//
// Such a name must name one file inside a folder the SDK owns and nothing else: never the
// folder itself, its parent, a sub-folder or a file elsewhere. Every place that joins such a
// name to a folder asks this type, and does no file operation at all when it answers nothing.
// Video identifiers follow the stricter rule of the API client (PNVideoAPI refuses the same
// identifiers), so a video that cannot be asked for by identifier owns no files either.
//
// Thread-safety: stateless; every operation may run on any thread. Calls nothing back.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pindle {

class PNSafePath {
  public:
    // The longest file name the file systems we run on accept, in bytes.
    static constexpr std::size_t maximumNameLength = 255;

    PNSafePath() = delete;

    // Whether `name` can stand as one file name: not empty, not "." or "..", no '/', no NUL,
    // at most maximumNameLength bytes. Blanks, dots elsewhere and non-ASCII text are fine.
    static bool isSafeName(std::string_view name);

    // Whether an identifier of a video (or of any backend record) can stand in a resource path
    // as it is: not empty, not "." or "..", none of "/?#%", only characters a URL holds
    // unescaped (so no blank, control character or non-ASCII byte). The API client refuses
    // every other identifier; no file is named after one either.
    static bool isSafeIdentifier(std::string_view identifier);

    // `folder` + "/" + `name`; nothing when `name` is not a safe name.
    static std::optional<std::string> inFolder(std::string_view folder, std::string_view name);

    // `folder` + "/" + `identifier` + `suffix`; nothing when the identifier is not a safe
    // identifier or the whole name (identifier and suffix) is not a safe name.
    static std::optional<std::string> forIdentifier(std::string_view folder,
                                                    std::string_view identifier,
                                                    std::string_view suffix);
};

}  // namespace pindle
