// Running programs with one pipe for output and error, as the setup service runs launchctl.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "posix/PosixCommands.h"
#include "support/ErrorMessage.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using FileSystem::quoted;

TEST(PosixCommands, OutputAndExitStatusAsTheProgramLeftThem) {
    const struct {
        std::string program;
        std::vector<std::string> arguments;
        std::string output;
        int exitCode;
    } cases[] = {
        // Output and error share one pipe, in the order written.
        {"/bin/sh", {"-c", "echo first; echo second >&2; echo third"}, "first\nsecond\nthird\n", 0},
        {"/usr/bin/printf", {"[%s]", "two words", "", "$HOME"}, "[two words][][$HOME]", 0},
        // With the caller's terminal as input, cat would wait for the user.
        {"/bin/sh", {"-c", "cat; echo end"}, "end\n", 0},
        // Out of the caller's process group, which a Ctrl-C in its terminal reaches.
        {"/bin/sh",
         {"-c", "read -r pid name state parent group rest </proc/$$/stat; [ $group = $$ ] && echo own"},
         "own\n",
         0},
        {"/bin/sh", {"-c", "echo 'Could not find service' >&2; exit 113"}, "Could not find service\n", 113},
        // A death by a signal is 128 plus the signal.
        {"/bin/sh", {"-c", "kill -KILL $$"}, "", 137},
        {"/bin/sh", {"-c", "kill -TERM $$"}, "", 143},
        // More than a pipe holds is read whole.
        {"/bin/sh",
         {"-c", "head -c 300000 /dev/zero; echo done >&2"},
         std::string(300000, '\0') + "done\n",
         0},
    };
    for (const auto& expected : cases) {
        const CommandResult result = PosixCommands().run(expected.program, expected.arguments);
        EXPECT_EQ(result.output, expected.output) << expected.arguments.back();
        EXPECT_EQ(result.exitCode, expected.exitCode) << expected.arguments.back();
    }
}

TEST(PosixCommands, AProgramThatCannotBeLaunchedThrowsWhy) {
    testing::TemporaryDirectory folder;
    const std::string notExecutable = folder / "launchctl";
    testing::writeFile(notExecutable, "#!/bin/sh\necho hi\n");
    const struct {
        std::string program;
        FileError::Code code;
        std::string reason;
    } cases[] = {
        {"/bin/launchctl-missing", FileError::Code::noSuchFile, "No such file or directory"},
        {notExecutable, FileError::Code::other, "Permission denied"},
    };
    for (const auto& expected : cases) {
        const auto error =
            testing::thrown<FileError>([&] { PosixCommands().run(expected.program, {"print"}); });
        EXPECT_EQ(error.code(), expected.code) << expected.program;
        EXPECT_STREQ(error.what(),
                     ("Launching " + quoted(expected.program) + " failed: " + expected.reason + ".").c_str());
    }
}

}  // namespace
}  // namespace tessaly
