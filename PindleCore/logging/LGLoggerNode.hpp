// LGLoggerNode: one entry of the hub's logger list: the logger, the queue it runs on and the
// mask of flags it receives.
//
// Thread-safety: immutable after construction.
#pragma once

#include "PindleCore/logging/LGLogFlag.hpp"
#include "PindleCore/logging/LGLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

struct LGLoggerNode {
    LGLoggerPtr logger;
    platform::DispatchQueuePtr loggerQueue;
    LGLogLevel level = LGLogLevelAll;
};

}  // namespace pindle
