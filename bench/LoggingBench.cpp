// Logging throughput against a widely used C++ logging library, with the same lines written
// to the same kind of sink: a file (asynchronously and synchronously), a rolling file of
// 1 MiB, and the console (standard error, sent to /dev/null for the run). Each iteration
// logs a batch of lines and waits until they are written; the goal is at least half the
// peer's throughput on the asynchronous file path and on the console.
//
// A synchronous log call of ours returns once every logger has written the line to its file
// (one write(2) a line, in the kernel when the call returns, so a crash right after it keeps
// the line). The peer's plain synchronous file logger buffers lines in the C library until a
// flush, which a crash loses; it is kept as a reference, and the like-for-like peer is the same
// logger flushing every line ("SyncFileFlushed"), the row with the goal.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "PindleCore/logging/LGFileLogger.hpp"
#include "PindleCore/logging/LGLog.hpp"
#include "PindleCore/logging/LGLogFileManagerDefault.hpp"
#include "PindleCore/logging/LGTTYLogger.hpp"

#ifdef PINDLE_BENCH_HAVE_SPDLOG
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace pindle;

constexpr int linesPerBatch = 1000;
constexpr std::uint64_t rollBytes = 1024 * 1024;
const std::string line = "uploaded range 262144-524287 of video-1234 in 12 ms, 21.8 MB/s";

fs::path scratchFolder(const char* name) {
    return fs::temp_directory_path() / ("pindle-log-bench-" + std::to_string(::getpid())) / name;
}

fs::path scratch(const char* name) {
    fs::path folder = scratchFolder(name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// A run writes hundreds of megabytes: none of it may stay behind.
void removeScratch(const char* name) {
    const fs::path folder = scratchFolder(name);
    fs::remove_all(folder);
    std::error_code ignored;
    fs::remove(folder.parent_path(), ignored);  // once the last run's folder is gone
}

// Standard error goes to /dev/null while it lives, so console runs measure the logger, not the
// terminal.
class QuietStandardError {
  public:
    QuietStandardError() : saved_(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~QuietStandardError() {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }

  private:
    int saved_;
};

void logBatches(benchmark::State& state, bool asynchronous) {
    for (auto _ : state) {
        for (int i = 0; i < linesPerBatch; ++i)
            LGLog::log(asynchronous, line, LGLogLevelAll, LGLogFlagInfo, 0, __FILE__, "bench",
                       __LINE__, nullptr);
        LGLog::flushLog();
    }
    state.SetItemsProcessed(state.iterations() * linesPerBatch);
    LGLog::removeAllLoggers();
}

void runFileLogger(benchmark::State& state, bool asynchronous, std::uint64_t maximumFileSize,
                   const char* folder) {
    auto manager = std::make_shared<LGLogFileManagerDefault>(scratch(folder).string());
    auto logger = std::make_shared<LGFileLogger>(manager);
    logger->setMaximumFileSize(maximumFileSize);
    LGLog::addLogger(logger);
    logBatches(state, asynchronous);
    logger->maximumFileSize();  // waits until the removal has closed the file
    removeScratch(folder);
}

void BM_Log_AsyncFile_Ours(benchmark::State& state) {
    runFileLogger(state, true, 0, "ours-async");
}
void BM_Log_SyncFile_Ours(benchmark::State& state) {
    runFileLogger(state, false, 0, "ours-sync");
}
void BM_Log_RollingFile_Ours(benchmark::State& state) {
    runFileLogger(state, true, rollBytes, "ours-rolling");
}
void BM_Log_Console_Ours(benchmark::State& state) {
    QuietStandardError quiet;
    LGLog::addLogger(LGTTYLogger::sharedInstance());
    logBatches(state, true);
}

#ifdef PINDLE_BENCH_HAVE_SPDLOG
void runPeer(benchmark::State& state, const std::shared_ptr<spdlog::logger>& logger) {
    logger->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v");
    for (auto _ : state) {
        for (int i = 0; i < linesPerBatch; ++i) logger->info(line);
        logger->flush();
    }
    state.SetItemsProcessed(state.iterations() * linesPerBatch);
    spdlog::drop_all();
}

void BM_Log_AsyncFile_Peer(benchmark::State& state) {
    spdlog::init_thread_pool(8192, 1);
    runPeer(state, spdlog::basic_logger_mt<spdlog::async_factory>(
                       "async", (scratch("peer-async") / "log.txt").string()));
    // An asynchronous flush only queues the flush: wait for the pool by dropping the logger.
    spdlog::shutdown();
    removeScratch("peer-async");
}
void BM_Log_SyncFile_Peer(benchmark::State& state) {
    runPeer(state, spdlog::basic_logger_mt("sync", (scratch("peer-sync") / "log.txt").string()));
    removeScratch("peer-sync");
}
void BM_Log_SyncFileFlushed_Peer(benchmark::State& state) {
    auto logger = spdlog::basic_logger_mt("sync-flushed",
                                          (scratch("peer-sync-flushed") / "log.txt").string());
    logger->flush_on(spdlog::level::trace);
    runPeer(state, logger);
    removeScratch("peer-sync-flushed");
}
void BM_Log_RollingFile_Peer(benchmark::State& state) {
    spdlog::init_thread_pool(8192, 1);
    runPeer(state, spdlog::rotating_logger_mt<spdlog::async_factory>(
                       "rolling", (scratch("peer-rolling") / "log.txt").string(), rollBytes, 5));
    spdlog::shutdown();
    removeScratch("peer-rolling");
}
void BM_Log_Console_Peer(benchmark::State& state) {
    QuietStandardError quiet;
    runPeer(state, spdlog::stderr_logger_mt("console"));
}
#endif

// Ours and the peer alternate, so both see the same load on a shared machine.
BENCHMARK(BM_Log_AsyncFile_Ours)->UseRealTime();
#ifdef PINDLE_BENCH_HAVE_SPDLOG
BENCHMARK(BM_Log_AsyncFile_Peer)->UseRealTime();
#endif
BENCHMARK(BM_Log_SyncFile_Ours)->UseRealTime();
#ifdef PINDLE_BENCH_HAVE_SPDLOG
BENCHMARK(BM_Log_SyncFile_Peer)->UseRealTime();
BENCHMARK(BM_Log_SyncFileFlushed_Peer)->UseRealTime();
#endif
BENCHMARK(BM_Log_RollingFile_Ours)->UseRealTime();
#ifdef PINDLE_BENCH_HAVE_SPDLOG
BENCHMARK(BM_Log_RollingFile_Peer)->UseRealTime();
#endif
BENCHMARK(BM_Log_Console_Ours)->UseRealTime();
#ifdef PINDLE_BENCH_HAVE_SPDLOG
BENCHMARK(BM_Log_Console_Peer)->UseRealTime();
#endif

}  // namespace
