// LGLogFlag: the flags of log messages and the masks of logger levels.
//
// A message carries exactly one flag; a logger's level is a mask of flags, and a logger
// receives a message when (level AND flag) is not 0. LGLogLevelAll accepts every flag.
//
// Thread-safety: constants only.
#pragma once

#include <cstdint>

namespace pindle {

using LGLogFlag = std::uint64_t;
using LGLogLevel = std::uint64_t;

inline constexpr LGLogFlag LGLogFlagError = 1;
inline constexpr LGLogFlag LGLogFlagWarning = 2;
inline constexpr LGLogFlag LGLogFlagInfo = 4;
inline constexpr LGLogFlag LGLogFlagDebug = 8;
inline constexpr LGLogFlag LGLogFlagVerbose = 16;

inline constexpr LGLogLevel LGLogLevelOff = 0;
// Error, warning, info, debug and verbose.
inline constexpr LGLogLevel LGLogLevelAllFlags = 31;
// Every bit set: accepts any flag, present or future.
inline constexpr LGLogLevel LGLogLevelAll = ~LGLogLevel{0};

}  // namespace pindle
