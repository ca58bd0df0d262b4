#include "PindleCore/uploads/PUploadSourceFile.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/files/FileManager.hpp"
#include "tests/support/OpenDescriptors.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle::legacy {
namespace {

namespace fs = std::filesystem;
using platform::Data;
using platform::FileManager;

Data pattern(std::size_t size, std::uint8_t seed) {
    Data bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return bytes;
}

// What opening the path afresh reads: the behaviour the kept-open file must match.
Data freshRead(const std::string& path, std::uint64_t offset, std::size_t length) {
    auto file = platform::FileHandle::open(path, platform::FileHandle::Mode::reading);
    return file ? file->read(offset, length).value_or(Data{}) : Data{};
}

class PUploadSourceFileTest : public ::testing::Test {
  public:
    void write(const std::string& path, const Data& bytes) {
        ASSERT_TRUE(FileManager::defaultManager().writeAtomically(path, bytes).ok());
    }

    pindle::testing::TemporaryHome home_{"source-file-"};
    const std::string path_ = home_.path() + "/movie_720p.mp4";
    const std::string other_ = home_.path() + "/other_720p.mp4";
};

TEST_F(PUploadSourceFileTest, EachReadSeesWhatThePathNamesNow) {
    struct Case {
        const char* change;
        std::function<void(PUploadSourceFileTest&)> apply;
        std::string readPath;
    };
    const std::vector<Case> cases = {
        {"nothing", [](auto&) {}, path_},
        {"rewritten in place",
         [](auto& test) {
             auto file =
                 platform::FileHandle::open(test.path_, platform::FileHandle::Mode::updating);
             ASSERT_TRUE(file);
             ASSERT_TRUE(file->write(pattern(4000, 99)).ok());
         },
         path_},
        {"replaced by another file", [](auto& test) { test.write(test.path_, pattern(5000, 7)); },
         path_},
        {"truncated", [](auto& test) { fs::resize_file(test.path_, 1200); }, path_},
        {"deleted", [](auto& test) { fs::remove(test.path_); }, path_},
        {"renamed away", [](auto& test) { fs::rename(test.path_, test.other_); }, path_},
        {"another path asked for", [](auto& test) { test.write(test.other_, pattern(3000, 50)); },
         other_},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        fs::remove(other_);
        write(path_, pattern(4000, 1));
        PUploadSourceFile source;
        EXPECT_EQ(source.read(path_, 0, 1000), freshRead(path_, 0, 1000));
        EXPECT_TRUE(source.isOpen());

        c.apply(*this);
        EXPECT_EQ(source.read(c.readPath, 1000, 2500), freshRead(c.readPath, 1000, 2500));
        EXPECT_EQ(source.isOpen(), fs::exists(c.readPath));
        EXPECT_LE(testing::descriptorsOpenOn(path_) + testing::descriptorsOpenOn(other_), 1);
        source.close();
        EXPECT_FALSE(source.isOpen());
        EXPECT_EQ(testing::descriptorsOpenOn(path_) + testing::descriptorsOpenOn(other_), 0);
    }
}

}  // namespace
}  // namespace pindle::legacy
