// UTType: the uniform type identifiers the SDK names: media types a picker offers and file
// types a movie is written as.
//
// Thread-safety: constants only.
#pragma once

namespace pindle::platform::UTType {

inline constexpr const char* image = "public.image";
inline constexpr const char* movie = "public.movie";
inline constexpr const char* mpeg4 = "public.mpeg-4";
inline constexpr const char* quickTimeMovie = "com.apple.quicktime-movie";

}  // namespace pindle::platform::UTType
