#include "platform/files/FileManager.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/FileError.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/platform/files/FileTestSupport.hpp"

namespace pindle::platform {
namespace {

using testing::readText;
using testing::TemporaryFolder;
using testing::writeText;

const FileManager& files() {
    return FileManager::defaultManager();
}

TEST(FileManagerTest, AtomicWriteLeavesOldOrNewContentsAndNoLeftovers) {
    TemporaryFolder folder;
    const std::string target = folder / "state.json";
    ASSERT_TRUE(files().writeAtomically(target, dataFromString("old")).ok());
    ::chmod(target.c_str(), 0640);

    // A write that dies between the synced temporary file and the rename.
    std::string temporarySeen;
    FileManager::Options options;
    options.beforeAtomicRename = [&](const std::string& temporary) -> platform::Status {
        temporarySeen = temporary;
        EXPECT_EQ(readText(temporary), "new contents");
        EXPECT_EQ(readText(target), "old");
        return makeFileError(EIO, temporary, FileAccess::writing, "rename");
    };
    FileManager failing(options);
    platform::Status error = failing.writeAtomically(target, dataFromString("new contents"));
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(underlyingPOSIXCode(error.error()), EIO);
    EXPECT_FALSE(temporarySeen.empty());
    EXPECT_EQ(readText(target), "old");
    EXPECT_EQ(files().contentsOfDirectory(folder.path()), std::vector<std::string>{"state.json"});

    ASSERT_TRUE(files().writeAtomically(target, dataFromString("new contents")).ok());
    EXPECT_EQ(readText(target), "new contents");
    ASSERT_TRUE(files().attributesOfItem(target));
    EXPECT_EQ(files().attributesOfItem(target)->permissions, 0640u);
    EXPECT_EQ(files().contentsOfDirectory(folder.path()), std::vector<std::string>{"state.json"});

    // Into a folder that does not exist: nothing is made.
    EXPECT_FALSE(files().writeAtomically(folder / "missing/state.json", dataFromString("x")).ok());
}

TEST(FileManagerTest, ReadsWholeFilesOfAnySize) {
    TemporaryFolder folder;
    std::string large(200 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 31 % 251);
    for (const std::string& text : {std::string(), std::string("x"), large}) {
        writeText(folder / "file", text);
        auto contents = files().contentsOfFile(folder / "file");
        ASSERT_TRUE(contents);
        EXPECT_EQ(std::string(contents->begin(), contents->end()), text) << text.size();
    }
    // A file whose size is not known beforehand is read to its end all the same.
    auto status = files().contentsOfFile("/proc/self/status");
    ASSERT_TRUE(status);
    const std::string statusText(status->begin(), status->end());
    EXPECT_NE(statusText.find("VmRSS:"), std::string::npos);
}

TEST(FileManagerTest, AttributesDescribeALinkItselfNotItsTarget) {
    TemporaryFolder folder;
    const std::string target = folder / "target.bin";
    writeText(target, std::string(1000, 'x'));
    const std::string linkText = "target.bin";
    ASSERT_EQ(::symlink(linkText.c_str(), (folder / "link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (folder / "dangling").c_str()), 0);

    auto link = files().attributesOfItem(folder / "link");
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isSymbolicLink());
    EXPECT_EQ(link->size, linkText.size());

    auto file = files().attributesOfItem(target);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->isRegularFile());
    EXPECT_EQ(file->size, 1000u);
    EXPECT_NE(file->inode, link->inode);

    auto dangling = files().attributesOfItem(folder / "dangling");
    ASSERT_TRUE(dangling);
    EXPECT_TRUE(dangling->isSymbolicLink());
    EXPECT_FALSE(files().fileExists(folder / "dangling"));

    bool isDirectory = true;
    EXPECT_TRUE(files().fileExists(folder / "link", &isDirectory));
    EXPECT_FALSE(isDirectory);
    ASSERT_TRUE(files().attributesOfItem(folder.path()));
    EXPECT_TRUE(files().attributesOfItem(folder.path())->isDirectory());
}

TEST(FileManagerTest, DeepListingWalksEverythingButLinkedFolders) {
    TemporaryFolder folder;
    TemporaryFolder outside;
    writeText(outside / "elsewhere.txt", "x");
    const std::string root = folder / "root";
    ASSERT_TRUE(files().createDirectory(root + "/b/c", true).ok());
    ASSERT_TRUE(files().createDirectory(root + "/a", false).ok());
    writeText(root + "/.hidden", "h");
    writeText(root + "/a/one.txt", "1");
    writeText(root + "/b/c/two.txt", "22");
    writeText(root + "/z.txt", "z");
    ASSERT_EQ(::symlink(outside.path().c_str(), (root + "/b/outside").c_str()), 0);

    const std::vector<std::string> expected = {".hidden", "a",           "a/one.txt", "b",
                                               "b/c",     "b/c/two.txt", "b/outside", "z.txt"};
    EXPECT_EQ(files().subpathsOfDirectory(root), expected);
    EXPECT_EQ(files().contentsOfDirectory(root),
              (std::vector<std::string>{".hidden", "a", "b", "z.txt"}));

    // The root may itself be reached through a link.
    ASSERT_EQ(::symlink(root.c_str(), (folder / "root-link").c_str()), 0);
    EXPECT_EQ(files().subpathsOfDirectory(folder / "root-link"), expected);

    Error error;
    EXPECT_FALSE(files().subpathsOfDirectory(folder / "missing", &error));
    EXPECT_EQ(error.code(), FileErrorCode::readNoSuchFile);
    EXPECT_FALSE(files().contentsOfDirectory(root + "/z.txt", &error));
}

TEST(FileManagerTest, EnumeratorAsksItsErrorHandlerWhetherToGoOn) {
    for (const bool goOn : {true, false}) {
        SCOPED_TRACE(goOn);
        TemporaryFolder folder;
        ASSERT_TRUE(files().createDirectory(folder / "a", false).ok());
        writeText(folder / "a/inside.txt", "x");
        writeText(folder / "b.txt", "x");

        std::vector<std::string> failedFolders;
        auto walk = files().enumerator(folder.path(), [&](const std::string& path, const Error& e) {
            failedFolders.push_back(path);
            EXPECT_EQ(underlyingPOSIXCode(e), ENOENT);
            return goOn;
        });
        ASSERT_TRUE(walk);
        EXPECT_EQ(walk->nextObject(), "a");
        // The folder vanishes between being met and being entered.
        ASSERT_TRUE(files().removeItem(folder / "a").ok());
        std::vector<std::string> rest;
        while (auto next = walk->nextObject()) rest.push_back(*next);

        EXPECT_EQ(failedFolders, std::vector<std::string>{folder / "a"});
        EXPECT_EQ(rest, goOn ? std::vector<std::string>{"b.txt"} : std::vector<std::string>{});
    }
}

// Creation dates must survive later writes, whichever way the file system lets us keep them.
TEST(FileManagerTest, CreationDateStaysWhenTheFileChangesLater) {
    struct Case {
        const char* name;
        bool useBirthTime;
        bool useExtendedAttributes;
    };
    const Case cases[] = {
        {"birth time", true, true},
        {"recorded in an extended attribute", false, true},
        {"recorded in process", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TemporaryFolder folder;
        FileManager::Options options;
        options.useBirthTime = c.useBirthTime;
        options.useExtendedAttributes = c.useExtendedAttributes;
        FileManager manager(options);

        const std::string path = folder / "log.txt";
        ASSERT_TRUE(manager.createFile(path, dataFromString("first")).ok());
        auto before = manager.attributesOfItem(path);
        ASSERT_TRUE(before);

        const Date later = before->creationDate.addingTimeInterval(86400);
        ASSERT_TRUE(manager.setModificationDate(path, later).ok());
        writeText(path, "rewritten in place");
        ASSERT_TRUE(manager.setModificationDate(path, later).ok());

        auto after = manager.attributesOfItem(path);
        ASSERT_TRUE(after);
        EXPECT_EQ(after->creationDate, before->creationDate);
        EXPECT_NEAR(after->modificationDate.timeIntervalSince1970(), later.timeIntervalSince1970(),
                    1e-6);
        EXPECT_NE(after->creationDate, after->modificationDate);

        const bool recordedNatively = !c.useBirthTime && c.useExtendedAttributes;
        const bool hasNativeRecord =
            ::getxattr(path.c_str(), "user.pindle.created", nullptr, 0) >= 0;
        EXPECT_EQ(hasNativeRecord, recordedNatively);
    }
}

TEST(FileManagerTest, CreationDateOfAForeignFileIsFixedAtFirstSight) {
    TemporaryFolder folder;
    FileManager::Options options;
    options.useBirthTime = false;
    FileManager manager(options);
    const std::string path = folder / "foreign.txt";
    writeText(path, "made by someone else");
    const Date past = Date::fromTimeIntervalSince1970(1'600'000'000);
    ASSERT_TRUE(manager.setModificationDate(path, past).ok());

    auto first = manager.attributesOfItem(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->creationDate, past);  // the earlier of change and modification time

    ASSERT_TRUE(manager.setModificationDate(path, past.addingTimeInterval(3600)).ok());
    ASSERT_TRUE(manager.attributesOfItem(path));
    EXPECT_EQ(manager.attributesOfItem(path)->creationDate, past);
}

TEST(FileManagerTest, ExtendedAttributesRoundTripNativelyAndInProcess) {
    for (const bool native : {true, false}) {
        SCOPED_TRACE(native ? "native" : "in-process fallback");
        TemporaryFolder folder;
        FileManager::Options options;
        options.useExtendedAttributes = native;
        FileManager manager(options);
        const std::string path = folder / "a.log";
        writeText(path, "x");

        EXPECT_FALSE(manager.hasExtendedAttribute(path, "p.log.archived"));
        Error error;
        EXPECT_FALSE(manager.extendedAttribute(path, "p.log.archived", &error));
        EXPECT_EQ(underlyingPOSIXCode(error), ENODATA);

        ASSERT_TRUE(manager.setExtendedAttribute(path, "p.log.archived", {}).ok());
        EXPECT_TRUE(manager.hasExtendedAttribute(path, "p.log.archived"));
        EXPECT_TRUE(manager.hasExtendedAttribute(path, "user.p.log.archived"));
        EXPECT_EQ(manager.extendedAttribute(path, "p.log.archived"), Data{});

        const Data binary = {0, 1, 2, 255};
        ASSERT_TRUE(manager.setExtendedAttribute(path, "blob", binary).ok());
        EXPECT_EQ(manager.extendedAttribute(path, "blob"), binary);

        EXPECT_EQ(::getxattr(path.c_str(), "user.blob", nullptr, 0) >= 0, native);

        ASSERT_TRUE(manager.removeExtendedAttribute(path, "p.log.archived").ok());
        EXPECT_FALSE(manager.hasExtendedAttribute(path, "p.log.archived"));
        EXPECT_TRUE(manager.removeExtendedAttribute(path, "p.log.archived").ok());
        EXPECT_TRUE(manager.hasExtendedAttribute(path, "blob"));

        EXPECT_FALSE(manager.setExtendedAttribute(folder / "missing", "blob", binary).ok());

        // Removing the file drops what was kept for it, so a new file never inherits it.
        ASSERT_TRUE(manager.removeItem(path).ok());
        writeText(path, "y");
        EXPECT_FALSE(manager.hasExtendedAttribute(path, "blob"));
    }
}

TEST(FileManagerTest, FailuresCarryFileCodesAndTheSystemError) {
    TemporaryFolder folder;
    writeText(folder / "file", "x");
    ASSERT_TRUE(files().createDirectory(folder / "dir", false).ok());
    Error error;

    struct Case {
        const char* name;
        std::optional<Error> error;
        std::int64_t code;
        int posix;
    };
    const Case cases[] = {
        {"read missing",
         files().contentsOfFile(folder / "missing", &error) ? std::nullopt : std::optional(error),
         FileErrorCode::readNoSuchFile, ENOENT},
        {"read a folder",
         files().contentsOfFile(folder / "dir", &error) ? std::nullopt : std::optional(error),
         FileErrorCode::readUnknown, EISDIR},
        {"folder without parent", files().createDirectory(folder / "no/such", false),
         FileErrorCode::noSuchFile, ENOENT},
        {"folder exists", files().createDirectory(folder / "dir", false),
         FileErrorCode::writeFileExists, EEXIST},
        {"folder through a file", files().createDirectory(folder / "file/sub", true),
         FileErrorCode::noSuchFile, ENOTDIR},
        {"remove missing", files().removeItem(folder / "missing"), FileErrorCode::noSuchFile,
         ENOENT},
        {"move onto existing", files().moveItem(folder / "dir", folder / "file"),
         FileErrorCode::writeFileExists, EEXIST},
        {"copy onto existing", files().copyItem(folder / "file", folder / "dir"),
         FileErrorCode::writeFileExists, EEXIST},
        {"attributes of missing",
         files().attributesOfItem(folder / "missing", &error) ? std::nullopt : std::optional(error),
         FileErrorCode::readNoSuchFile, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.error);
        EXPECT_EQ(c.error->domain(), CocoaError::domain);
        EXPECT_EQ(c.error->code(), c.code);
        EXPECT_EQ(underlyingPOSIXCode(*c.error), c.posix);
        EXPECT_EQ(c.error->userInfo().count(filePathErrorKey), 1u);
    }
    EXPECT_EQ(readText(folder / "file"), "x");
}

TEST(FileManagerTest, CopyAndMoveKeepTreesLinksAndDates) {
    TemporaryFolder folder;
    const std::string source = folder / "source";
    ASSERT_TRUE(files().createDirectory(source + "/sub", true).ok());
    writeText(source + "/sub/data.bin", "payload");
    ::chmod((source + "/sub/data.bin").c_str(), 0600);
    ASSERT_EQ(::symlink("sub/data.bin", (source + "/link").c_str()), 0);
    const Date past = Date::fromTimeIntervalSince1970(1'500'000'000);
    ASSERT_TRUE(files().setModificationDate(source + "/sub/data.bin", past).ok());

    ASSERT_TRUE(files().copyItem(source, folder / "copy").ok());
    EXPECT_EQ(files().subpathsOfDirectory(folder / "copy"), files().subpathsOfDirectory(source));
    EXPECT_EQ(readText(folder / "copy/sub/data.bin"), "payload");
    auto copied = files().attributesOfItem(folder / "copy/sub/data.bin");
    ASSERT_TRUE(copied && files().attributesOfItem(folder / "copy/link"));
    EXPECT_EQ(copied->permissions, 0600u);
    EXPECT_EQ(copied->modificationDate, past);
    EXPECT_TRUE(files().attributesOfItem(folder / "copy/link")->isSymbolicLink());

    // Across file systems (tmpfs) a move is a copy and a removal.
    TemporaryFolder memory("/dev/shm");
    for (const auto& [from, to] : {std::pair{folder / "copy", memory / "moved"},
                                   std::pair{memory / "moved", folder / "back"}}) {
        ASSERT_TRUE(files().moveItem(from, to).ok());
        EXPECT_FALSE(files().fileExists(from));
        EXPECT_EQ(readText(to + "/sub/data.bin"), "payload");
        ASSERT_TRUE(files().attributesOfItem(to + "/link"));
        EXPECT_TRUE(files().attributesOfItem(to + "/link")->isSymbolicLink());
    }
}

TEST(FileManagerTest, RemovingATreeNeverFollowsLinksOut) {
    TemporaryFolder folder;
    TemporaryFolder outside;
    writeText(outside / "keep.txt", "keep");
    ASSERT_TRUE(files().createDirectory(folder / "tree/deep/deeper", true).ok());
    writeText(folder / "tree/deep/deeper/f", "x");
    ASSERT_EQ(::symlink(outside.path().c_str(), (folder / "tree/deep/out").c_str()), 0);

    ASSERT_TRUE(files().removeItem(folder / "tree").ok());
    EXPECT_FALSE(files().fileExists(folder / "tree"));
    EXPECT_EQ(readText(outside / "keep.txt"), "keep");
}

TEST(FileManagerTest, ARefusedRemovalRemovesNothing) {
    TemporaryFolder folder;
    writeText(folder / "kept", "k");
    writeText(folder / "gone", "g");
    FileManager::Options options;
    options.beforeRemove = [](const std::string& path) -> platform::Status {
        if (path.find("kept") == std::string::npos)
            return std::nullopt;
        return makeFileError(EACCES, path, FileAccess::writing, "remove");
    };
    FileManager refusing(std::move(options));
    const platform::Status refused = refusing.removeItem(folder / "kept");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(underlyingPOSIXCode(refused.error()), EACCES);
    EXPECT_EQ(readText(folder / "kept"), "k");
    EXPECT_TRUE(refusing.removeItem(folder / "gone").ok());
    EXPECT_FALSE(refusing.fileExists(folder / "gone"));
}

TEST(FileManagerTest, WritableItemsAreThoseThisProcessMayChange) {
    TemporaryFolder folder;
    writeText(folder / "file", "f");
    EXPECT_TRUE(files().isWritableFile(folder.path()));
    EXPECT_TRUE(files().isWritableFile(folder / "file"));
    EXPECT_FALSE(files().isWritableFile(folder / "missing"));
    ASSERT_EQ(::chmod((folder / "file").c_str(), 0444), 0);
    // The superuser may write whatever the modes say.
    EXPECT_EQ(files().isWritableFile(folder / "file"), ::geteuid() == 0);
}

TEST(FileManagerTest, FreeSpaceOfAVolume) {
    TemporaryFolder folder;
    auto space = files().freeSpace(folder.path());
    ASSERT_TRUE(space);
    EXPECT_GT(*space, 0u);
    EXPECT_FALSE(files().freeSpace(folder / "missing"));
}

}  // namespace
}  // namespace pindle::platform
