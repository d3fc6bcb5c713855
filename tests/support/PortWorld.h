#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SessionCommands.h"
#include "SessionWorld.h"
#include "posix/AsioRunLoop.h"
#include "posix/PosixWorkspace.h"
#include "posix/RuntimeDirectory.h"
#include "session/SessionAccessibility.h"
#include "session/SessionConnection.h"
#include "session/SessionCoreAudio.h"
#include "session/SessionWorkspace.h"
#include "support/ProcessRunner.h"
#include "support/RealProcesses.h"
#include "support/TemporaryDirectory.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// A simulated Mac reached through the ports, and the user acting on it: the same tests run
/// against the world in the test's process and against a real tessaly-session process.
class PortWorld {
public:
    virtual ~PortWorld() = default;
    virtual CoreAudio& audio() = 0;
    virtual Accessibility& accessibility() = 0;
    virtual Workspace& workspace() = 0;
    /// The loop that listeners and observers are called on.
    virtual RunLoop& loop() = 0;
    /// Runs a session command as the user and returns its output; a failure fails the test.
    virtual std::string act(const std::vector<std::string>& words) = 0;
    /// Turns the loop until `done` holds or `seconds` pass.
    virtual bool runUntil(const std::function<bool()>& done, double seconds = 5) = 0;
    /// Turns the loop long enough for anything under way to arrive.
    void settle() {
        runUntil([] { return false; }, 0.1);
    }

    TemporaryDirectory home;
};

/// The world in the test's own process on virtual time; its ports are the simulations themselves.
class LocalWorld : public PortWorld {
public:
    CoreAudio& audio() override { return world.audio; }
    Accessibility& accessibility() override { return world.desktop; }
    Workspace& workspace() override { return world.workspace; }
    RunLoop& loop() override { return runLoop; }
    std::string act(const std::vector<std::string>& words) override {
        std::string output;
        int status = -1;
        commands.run(words, [&](int code, std::string text) {
            status = code;
            output = std::move(text);
        });
        EXPECT_TRUE(runUntil([&] { return status >= 0; }));
        EXPECT_EQ(status, 0) << output;
        return output;
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 5) override {
        runLoop.runUntilIdle();
        for (const double deadline = runLoop.now() + seconds; !done() && runLoop.now() < deadline;)
            runLoop.advance(0.001);
        return done();
    }

    VirtualRunLoop runLoop;
    SessionWorld world{runLoop, home.path()};
    SessionCommands commands{world, runLoop, [] {}};
};

/// A tessaly-session process of its own (isolated home and runtime folder), reached as a client.
class SessionProcess : public PortWorld {
public:
    SessionProcess() {
        pid_ = runner_.start(TESSALY_SESSION_PATH, {"run"}, home / "session.out", home / "session.err");
        const RuntimeDirectory runtime(runtime_.path());
        if (!eventually([&] {
                connection = SessionConnection::connectIfRunning(runtime, "tessaly-platform-session-tests");
                return connection != nullptr;
            }))
            throw std::runtime_error("the session did not start: " + readFile(home / "session.err"));
        audio_ = std::make_unique<SessionCoreAudio>(connection);
        accessibility_ = std::make_unique<SessionAccessibility>(connection, &loop_);
        workspace_ = std::make_unique<SessionWorkspace>(connection, files_);
    }
    ~SessionProcess() override {
        accessibility_.reset();
        audio_.reset();
        connection.reset();
        if (!ProcessRunner::waitFor(pid_, 0)) ::kill(pid_, SIGTERM);
        if (!ProcessRunner::waitFor(pid_, 5)) {
            ::kill(pid_, SIGKILL);
            ProcessRunner::waitFor(pid_, 5);
        }
    }

    CoreAudio& audio() override { return *audio_; }
    Accessibility& accessibility() override { return *accessibility_; }
    Workspace& workspace() override { return *workspace_; }
    RunLoop& loop() override { return loop_; }
    std::string act(const std::vector<std::string>& words) override {
        const auto reply = connection->call(SessionProtocol::command, SessionFrame::Writer().texts(words));
        if (!reply) {
            ADD_FAILURE() << "the session went away";
            return "";
        }
        SessionFrame::Reader fields(*reply);
        const int status = fields.i32();
        std::string output = fields.text();
        EXPECT_EQ(status, 0) << output;
        return output;
    }
    bool runUntil(const std::function<bool()>& done, double seconds = 5) override {
        if (done()) return true;
        const double deadline = loop_.now() + seconds;
        auto timer = loop_.makeTimer(0.001, 0.001, 0, [&] {
            if (done() || loop_.now() > deadline) loop_.stop();
        });
        loop_.run();
        return done();
    }
    /// The socket the session serves.
    std::string socketPath() const { return runtime_ / SessionProtocol::socketName; }
    int pid() const { return pid_; }

    std::shared_ptr<SessionConnection> connection;

private:
    AsioRunLoop loop_;
    TemporaryDirectory runtime_;
    ProcessRunner runner_{{{"HOME", home.path()}, {"XDG_RUNTIME_DIR", runtime_.path()}}};
    int pid_ = -1;
    PosixWorkspace files_;
    std::unique_ptr<SessionCoreAudio> audio_;
    std::unique_ptr<SessionAccessibility> accessibility_;
    std::unique_ptr<SessionWorkspace> workspace_;
};

}  // namespace tessaly::testing
