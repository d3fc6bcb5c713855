// Running programs with one pipe for output and error, as the setup service runs launchctl.

#include <gtest/gtest.h>

#include <string>

#include "foundation/FileError.h"
#include "posix/PosixCommands.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

std::string quoted(const std::string& text) {
    return "\xE2\x80\x9C" + text + "\xE2\x80\x9D";
}

CommandResult shell(const std::string& script) {
    return PosixCommands().run("/bin/sh", {"-c", script});
}

TEST(CommandOutput, OutputAndErrorArriveInOnePipeInTheOrderWritten) {
    const CommandResult result = shell("echo first; echo second >&2; echo third");
    EXPECT_EQ(result.output, "first\nsecond\nthird\n");
    EXPECT_EQ(result.exitCode, 0);
}

TEST(CommandOutput, ArgumentsArePassedVerbatim) {
    const CommandResult result = PosixCommands().run("/usr/bin/printf", {"[%s]", "two words", "", "$HOME"});
    EXPECT_EQ(result.output, "[two words][][$HOME]");
}

TEST(CommandOutput, OutputLargerThanThePipeIsReadWhole) {
    const CommandResult result = shell("head -c 300000 /dev/zero; echo done >&2");
    EXPECT_EQ(result.output.size(), 300005u);
    EXPECT_EQ(result.output.substr(300000), "done\n");
}

TEST(CommandOutput, TheProgramReadsNothingFromTheCallersInput) {
    // With the caller's terminal as input, cat would wait for the user.
    const CommandResult result = shell("cat; echo end");
    EXPECT_EQ(result.output, "end\n");
}

TEST(CommandExitCode, IsTheProgramsExitStatus) {
    EXPECT_EQ(shell("exit 0").exitCode, 0);
    EXPECT_EQ(shell("echo 'Could not find service' >&2; exit 113").exitCode, 113);
}

TEST(CommandExitCode, ADeathBySignalIs128PlusTheSignal) {
    EXPECT_EQ(shell("kill -KILL $$").exitCode, 137);
    EXPECT_EQ(shell("kill -TERM $$").exitCode, 143);
}

TEST(CommandLaunchFailure, AMissingProgramThrowsNoSuchFile) {
    try {
        PosixCommands().run("/bin/launchctl-missing", {"print"});
        FAIL() << "a missing program ran";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::noSuchFile);
        EXPECT_STREQ(error.what(),
                     ("Launching " + quoted("/bin/launchctl-missing") + " failed: No such file or directory.")
                         .c_str());
    }
}

TEST(CommandLaunchFailure, AFileThatIsNotExecutableThrowsPermissionDenied) {
    testing::TemporaryDirectory folder;
    const std::string program = folder / "launchctl";
    testing::writeFile(program, "#!/bin/sh\necho hi\n");

    try {
        PosixCommands().run(program, {});
        FAIL() << "a file without execute permission ran";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::other);
        EXPECT_STREQ(error.what(), ("Launching " + quoted(program) + " failed: Permission denied.").c_str());
    }
}

}  // namespace
}  // namespace tessaly
