#include "platform/publish/publish.h"
#include "tools/testing/scratch_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = (dir / "result").string();
        std::ofstream(path) << "old\n";
    }
    std::string content() { return vxtest::readFile(path); }
    std::size_t files() { return std::distance(fs::directory_iterator(dir), fs::directory_iterator()); }

    vxtest::ScratchDir scratch{"publish_test"};
    const fs::path dir = scratch.path();
    std::string path;
};

TEST_F(PublishTest, CommitReplacesThePathAsAWhole)
{
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    publish_file file;
    ASSERT_EQ(publish_open(&file, path.c_str()), 0);
    EXPECT_EQ(std::string(file.temporary), path + "." + std::to_string(getpid()));
    std::fputs("new\n", file.out);
    EXPECT_EQ(content(), "old\n"); // nothing shows before the commit
    ASSERT_EQ(publish_commit(&file), PUBLISH_DONE);
    EXPECT_EQ(content(), "new\n");
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino); // a reader of the old file keeps it whole
    EXPECT_EQ(files(), 1u);

    ASSERT_EQ(publish_open(&file, path.c_str()), 0);
    std::fputs("dropped\n", file.out);
    publish_abandon(&file);
    EXPECT_EQ(content(), "new\n");
    EXPECT_EQ(files(), 1u);

    errno = 0;
    EXPECT_EQ(publish_open(&file, (dir / "missing" / "result").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(PublishTest, FailuresPublishNothingAndLeaveNoTemporary)
{
    // A write that does not reach the file: the file size limit stands in for
    // a full disk.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{16, limit.rlim_max};
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    publish_file file;
    ASSERT_EQ(publish_open(&file, path.c_str()), 0);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::fputs(std::string(8192, 'x').c_str(), file.out);
    std::fputs("tail that fits\n", file.out);
    errno = 0;
    const publish_outcome outcome = publish_commit(&file);
    const int error = errno;
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(outcome, PUBLISH_WRITE_FAILED);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(content(), "old\n");
    EXPECT_EQ(files(), 1u);

    // A path that a file cannot replace.
    const fs::path folder = dir / "folder";
    fs::create_directory(folder);
    std::ofstream(folder / "inside") << "x";
    ASSERT_EQ(publish_open(&file, folder.c_str()), 0);
    std::fputs("new\n", file.out);
    EXPECT_EQ(publish_commit(&file), PUBLISH_RENAME_FAILED);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(files(), 2u);
}

TEST_F(PublishTest, RemovesTheTemporariesOfEndedRunsAndNothingElse)
{
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string gone = std::to_string(ended);
    const std::set<std::string> kept = {"result",        "result." + std::to_string(getppid()),
                                        "result.bak",    "result.12x",
                                        "other." + gone, "result.0" + gone};
    for (const std::string &name : kept) {
        std::ofstream(dir / name) << "x";
    }
    std::ofstream(dir / ("result." + gone)) << "killed run";
    std::ofstream(dir / ("result." + std::to_string(getpid()))) << "an earlier process of this id";

    EXPECT_EQ(publish_remove_stale(path.c_str()), 2);
    std::set<std::string> left;
    for (const auto &entry : fs::directory_iterator(dir)) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, kept);
    EXPECT_EQ(publish_remove_stale((dir / "missing" / "result").c_str()), -1);
}

TEST_F(PublishTest, NeverWritesThroughALinkAtTheTemporaryName)
{
    // Someone's link at this process's temporary name, to a file of root's:
    // the file keeps its content, the link goes by the stale rule (this
    // process's own id counts as gone) and the result is a new file.
    const std::string victim = (dir / "victim").string();
    std::ofstream(victim) << "precious\n";
    const std::string temporary = path + "." + std::to_string(getpid());
    ASSERT_EQ(symlink(victim.c_str(), temporary.c_str()), 0);
    publish_file file;
    ASSERT_EQ(publish_open(&file, path.c_str()), 0);
    std::fputs("new\n", file.out);
    ASSERT_EQ(publish_commit(&file), PUBLISH_DONE);
    EXPECT_EQ(vxtest::readFile(victim), "precious\n");
    EXPECT_EQ(content(), "new\n");
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(files(), 2u);
}

} // namespace
