// LGExtractFileNameWithoutExtension: the file name of a source path without its extension,
// as log lines show where they come from ("/src/Foo.cpp" -> "Foo").
//
// Thread-safety: a pure function.
#pragma once

#include <optional>
#include <string_view>

namespace pindle {

// The text after the last "/" (or the whole path) up to the last "." after that slash (or
// to the end). The result views `path`'s characters: the buffer must outlive it; copy it
// into a std::string to keep it. Nothing for a null path.
std::optional<std::string_view> LGExtractFileNameWithoutExtension(const char* path);
std::string_view LGExtractFileNameWithoutExtension(std::string_view path);

}  // namespace pindle
