#include "PindleCore/caches/PNCachedImage.hpp"
