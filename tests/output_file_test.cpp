// The output file: what it replaces and what it leaves alone, and nothing left behind on failure.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "capture_readers.h"
#include "common/atomic_file.h"

namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// The message commit() raised, or "" if it succeeded.
std::string commitError(common::AtomicFile& file) {
    try {
        file.commit();
        return "";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

TEST(OutputFile, ReplacesARegularFileOnlyOnCommitKeepingItsPermissions) {
    readers::ScratchDir dir;
    const fs::path path = dir.path() / "out.trace";
    put(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    {
        common::AtomicFile discarded(path);
        discarded.stream() << "never";
    }
    EXPECT_EQ(contentOf(path), "old");
    common::AtomicFile file(path);
    file.stream() << "new";
    EXPECT_EQ(contentOf(path), "old");
    EXPECT_EQ(commitError(file), "");
    EXPECT_EQ(contentOf(path), "new");
    EXPECT_EQ(fs::status(path).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.trace"});
}

TEST(OutputFile, ALinkStaysALinkAndItsTargetIsReplaced) {
    // Given a link to a regular file, and a link to a link to a file yet to be made
    readers::ScratchDir dir;
    fs::create_directory(dir.path() / "real");
    put(dir.path() / "real" / "a.vgm", "old");
    fs::create_symlink("real/a.vgm", dir.path() / "a.vgm");
    fs::create_symlink("b2.vgm", dir.path() / "b.vgm");
    fs::create_symlink("real/b.vgm", dir.path() / "b2.vgm");
    for (const char* name : {"a.vgm", "b.vgm"}) {
        common::AtomicFile file(dir.path() / name);
        file.stream() << "new";
        EXPECT_EQ(commitError(file), "") << name;
        // Then each link is still a link, and what it names holds the new bytes
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.path() / name))) << name;
        EXPECT_EQ(contentOf(dir.path() / name), "new") << name;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path() / "real" / "b.vgm")));
    // and no temporary file is left beside the targets or the links
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "real"), {}), 2);
    EXPECT_EQ(dir.entries().size(), 4u);
}

TEST(OutputFile, DevicesAreWrittenInPlaceAndAFullOneReportsTheError) {
    // Device nodes of the test's own, never the machine's: a fault that replaced a device
    // would replace these. Making them needs root.
    readers::ScratchDir dir;
    const fs::path full = dir.path() / "full";
    const fs::path null = dir.path() / "null";
    if (mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0 ||
        mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make device nodes here";
    fs::create_symlink("full", dir.path() / "full.wav");
    for (const fs::path& path : {full, dir.path() / "full.wav"}) {
        common::AtomicFile file(path);
        // A device is written where it is: no temporary file beside it.
        EXPECT_EQ(dir.entries().size(), 3u) << path;
        file.stream() << std::string(100000, 'x');
        EXPECT_EQ(commitError(file), "cannot write " + path.string() + ": No space left on device");
    }
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.path() / "full.wav")));
    EXPECT_TRUE(fs::is_character_file(full));
    common::AtomicFile null_file(null);
    null_file.stream() << "gone";
    EXPECT_EQ(commitError(null_file), "");
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_EQ(dir.entries().size(), 3u);
}

TEST(OutputFile, AFifoGetsTheBytesInPlace) {
    readers::ScratchDir dir;
    const fs::path fifo = dir.path() / "pipe.trace";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = contentOf(fifo); });
    {
        common::AtomicFile file(fifo);
        file.stream() << "out 0388 00b0\n";
        EXPECT_EQ(commitError(file), "");
    }
    reader.join();
    EXPECT_EQ(received, "out 0388 00b0\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST(OutputFile, AWriterThatFinishesItsHeaderLastGivesAFifoTheBytesAFileWouldHold) {
    // Given a writer that moves about (a WAV or FLAC header is filled in last), when it writes
    // into a FIFO, then the reader gets exactly what the same moves make in a regular file.
    readers::ScratchDir dir;
    const fs::path fifo = dir.path() / "pipe.wav";
    const fs::path regular = dir.path() / "file.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto fill = [](common::AtomicFile& file) {
        file.write("HEAD----body", 12);
        EXPECT_EQ(file.tell(), 12);
        EXPECT_EQ(file.size(), 12);
        EXPECT_EQ(file.seek(4, SEEK_SET), 4);
        char back[4] = {};
        EXPECT_EQ(file.read(back, sizeof back), 4u);
        EXPECT_EQ(std::string(back, 4), "----");
        EXPECT_EQ(file.seek(-8, SEEK_CUR), 0);
        file.write("RIFF", 4);
        EXPECT_EQ(file.seek(0, SEEK_END), 12);
        file.write("!", 1);
        EXPECT_EQ(commitError(file), "");
    };
    std::string received;
    std::thread reader([&] { received = contentOf(fifo); });
    {
        common::AtomicFile piped(fifo, common::AtomicFile::Access::Random);
        fill(piped);
    }
    reader.join();
    {
        common::AtomicFile file(regular, common::AtomicFile::Access::Random);
        fill(file);
    }
    EXPECT_EQ(received, "RIFF----body!");
    EXPECT_EQ(contentOf(regular), received);
}

TEST(OutputFile, AHardLinkedOutputIsReplacedWithOneLineSayingItsOtherNameKeepsTheOldContent) {
    readers::ScratchDir dir;
    const fs::path out = dir.path() / "out.trace";
    const fs::path other = dir.path() / "other.trace";
    std::ofstream(out) << "old";
    fs::create_hard_link(out, other);
    testing::internal::CaptureStderr();
    {
        common::AtomicFile file(out);
        file.stream() << "new";
        EXPECT_EQ(commitError(file), "");
    }
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        out.string() +
            " is replaced by a new file; its 1 other hard-linked name keeps the old content\n");
    EXPECT_EQ(contentOf(out), "new");
    EXPECT_EQ(contentOf(other), "old");
}

TEST(OutputFile, ADirectoryIsRefusedAtOnceAndLeftAlone) {
    readers::ScratchDir dir;
    fs::create_directory(dir.path() / "d.wav");
    try {
        common::AtomicFile file(dir.path() / "d.wav");
        FAIL() << "opened a directory";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot write " + (dir.path() / "d.wav").string() + ": Is a directory");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"d.wav"});
    EXPECT_TRUE(fs::is_empty(dir.path() / "d.wav"));
}

TEST(OutputFile, AFailedRenameRemovesTheTemporaryFile) {
    // Given a file opened while its name was free, when a directory takes the name before commit
    readers::ScratchDir dir;
    common::AtomicFile file(dir.path() / "t.trace");
    file.stream() << "data";
    fs::create_directory(dir.path() / "t.trace");
    fs::create_directory(dir.path() / "t.trace" / "inside");
    // Then commit fails with a reason, and only the directory is left
    EXPECT_NE(commitError(file), "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"t.trace"});
}

TEST(OutputFile, AFullDiskIsReportedWithItsReasonAndLeavesNoTemporaryFile) {
    readers::ScratchDir dir;
    const fs::path path = dir.path() / "c.vgm";
    put(path, "old");
    // A file-size limit stands in for a full disk: writes past it fail as they would there.
    // It binds the whole process, so the writing happens in a child.
    auto writeTooMuch = [&path] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        common::AtomicFile file(path);
        file.stream() << std::string(100000, 'x');
        std::fprintf(stderr, "%s\n", commitError(file).c_str());
        std::_Exit(0);
    };
    EXPECT_EXIT(writeTooMuch(), ::testing::ExitedWithCode(0),
                "^cannot write .*c\\.vgm: File too large\n$");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"c.vgm"});
    EXPECT_EQ(contentOf(path), "old");
}

}  // namespace
