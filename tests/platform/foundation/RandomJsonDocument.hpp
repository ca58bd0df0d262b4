// A random JSON document full of the awkward parts of the format (escapes, surrogates,
// multi-byte text, numbers at the int64 edges, nesting), for tests that compare two readings.
#pragma once

#include <iterator>
#include <random>
#include <string>

namespace pindle::platform::test {

// A scalar, array or object; containers nest at most four deep below `depth`.
std::string randomJsonDocument(std::mt19937& random, int depth = 0);

}  // namespace pindle::platform::test
