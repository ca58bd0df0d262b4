#include "platform/files/FileHandle.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/FileError.hpp"
#include "tests/platform/files/FileTestSupport.hpp"

namespace pindle::platform {
namespace {

using testing::readText;
using testing::TemporaryFolder;
using testing::writeText;
using Mode = FileHandle::Mode;
using Creation = FileHandle::Creation;

TEST(FileHandleTest, OpeningRespectsModeAndCreation) {
    TemporaryFolder folder;
    struct Case {
        Mode mode;
        Creation creation;
        bool opens;
        std::int64_t code;
    };
    const Case cases[] = {
        {Mode::reading, Creation::mustExist, false, FileErrorCode::readNoSuchFile},
        {Mode::writing, Creation::mustExist, false, FileErrorCode::noSuchFile},
        {Mode::updating, Creation::mustExist, false, FileErrorCode::noSuchFile},
        {Mode::appending, Creation::mustExist, false, FileErrorCode::noSuchFile},
        {Mode::writing, Creation::createIfMissing, true, 0},
        {Mode::updating, Creation::createIfMissing, true, 0},
        {Mode::appending, Creation::createIfMissing, true, 0},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(index);
        const std::string path = folder / ("f" + std::to_string(index++));
        Error error;
        auto handle = FileHandle::open(path, c.mode, c.creation, &error);
        EXPECT_EQ(handle != nullptr, c.opens);
        EXPECT_EQ(FileManager::defaultManager().fileExists(path), c.opens);
        if (!c.opens) {
            EXPECT_EQ(error.code(), c.code);
        }
    }

    // Opening an existing file for writing keeps its bytes.
    writeText(folder / "kept", "0123456789");
    auto writer = FileHandle::open(folder / "kept", Mode::writing);
    ASSERT_TRUE(writer);
    ASSERT_FALSE(writer->write(dataFromString("ab")));
    EXPECT_EQ(readText(folder / "kept"), "ab23456789");
}

TEST(FileHandleTest, ReadsWritesSeeksAndTruncates) {
    TemporaryFolder folder;
    const std::string path = folder / "data";
    auto file = FileHandle::open(path, Mode::updating, Creation::createIfMissing);
    ASSERT_TRUE(file);
    ASSERT_FALSE(file->write(dataFromString("hello world")));
    EXPECT_EQ(file->offset(), 11u);

    ASSERT_FALSE(file->seek(6));
    EXPECT_EQ(file->read(3), dataFromString("wor"));
    EXPECT_EQ(file->readToEnd(), dataFromString("ld"));
    EXPECT_EQ(file->read(10), Data{});  // at the end

    // Reading at an offset leaves the current offset alone.
    ASSERT_FALSE(file->seek(1));
    EXPECT_EQ(file->read(0, 5), dataFromString("hello"));
    EXPECT_EQ(file->read(8, 100), dataFromString("rld"));
    EXPECT_EQ(file->offset(), 1u);

    ASSERT_FALSE(file->append(dataFromString("!")));
    ASSERT_FALSE(file->seek(3));
    EXPECT_EQ(file->size(), 12u);
    EXPECT_EQ(file->offset(), 3u) << "asking the size leaves the offset alone";
    EXPECT_EQ(file->seekToEnd(), 12u);
    ASSERT_FALSE(file->truncate(5));
    EXPECT_EQ(file->offset(), 5u);
    ASSERT_FALSE(file->synchronize());
    EXPECT_EQ(readText(path), "hello");
}

TEST(FileHandleTest, AppendingModeAlwaysWritesAtTheEnd) {
    TemporaryFolder folder;
    const std::string path = folder / "log";
    writeText(path, "one\n");
    auto log = FileHandle::open(path, Mode::appending);
    ASSERT_TRUE(log);
    ASSERT_FALSE(log->seek(0));
    ASSERT_FALSE(log->write(dataFromString("two\n")));
    writeText(path + ".tmp", "");  // unrelated traffic in the folder
    ASSERT_FALSE(log->write(dataFromString("three\n")));
    EXPECT_EQ(readText(path), "one\ntwo\nthree\n");
}

TEST(FileHandleTest, ClosedHandleFailsEveryOperation) {
    TemporaryFolder folder;
    auto file = FileHandle::open(folder / "f", Mode::updating, Creation::createIfMissing);
    ASSERT_TRUE(file);
    ASSERT_FALSE(file->close());
    EXPECT_FALSE(file->close());  // twice is fine

    Error error;
    EXPECT_FALSE(file->read(1, &error));
    EXPECT_EQ(underlyingPOSIXCode(error), EBADF);
    auto writeError = file->write(dataFromString("x"));
    ASSERT_TRUE(writeError);
    EXPECT_EQ(underlyingPOSIXCode(*writeError), EBADF);
    EXPECT_TRUE(file->synchronize());
    EXPECT_FALSE(file->size());
    EXPECT_FALSE(file->isStillAtPath());
}

TEST(FileHandleTest, NoticesItsFileWasDeletedRenamedOrReplaced) {
    TemporaryFolder folder;
    const std::string path = folder / "current.log";
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"deleted",
         [&] {
             ::unlink(path.c_str());
         }},
        {"renamed",
         [&] {
             ::rename(path.c_str(), (folder / "archived.log").c_str());
         }},
        {"replaced",
         [&] {
             writeText(folder / "other", "other");
             ::rename((folder / "other").c_str(), path.c_str());
         }},
        {"unlinked here, still linked elsewhere",
         [&] {
             ::link(path.c_str(), (folder / "second").c_str());
             ::unlink(path.c_str());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(path.c_str());
        auto file = FileHandle::open(path, Mode::appending, Creation::createIfMissing);
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->isStillAtPath());
        c.change();
        EXPECT_FALSE(file->isStillAtPath());
    }
}

}  // namespace
}  // namespace pindle::platform
