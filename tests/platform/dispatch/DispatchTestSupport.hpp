// Kept for tests written before the virtual-time support moved to tests/support.
#pragma once

#include "tests/support/VirtualTimeTest.hpp"
