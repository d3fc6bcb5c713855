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
#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// A simulated Mac reached through the ports, and the user acting on it: the same tests run
/// against the world embedded in the test and against a real tessaly-session process.
class PortWorld {
public:
    virtual ~PortWorld() = default;
    virtual CoreAudio& audio() = 0;
    virtual Accessibility& accessibility() = 0;
    virtual Workspace& workspace() = 0;
    /// Runs a session command as the user and returns its output; a failure fails the test.
    virtual std::string act(const std::vector<std::string>& words) = 0;

    /// Turns the run loop that callbacks arrive on until `done` holds or `seconds` pass.
    bool runUntil(const std::function<bool()>& done, double seconds = 5) {
        if (done()) return true;
        const double deadline = loop.now() + seconds;
        auto timer = loop.makeTimer(0.001, 0.001, 0, [&] {
            if (done() || loop.now() > deadline) loop.stop();
        });
        loop.run();
        return done();
    }

    AsioRunLoop loop;
    TemporaryDirectory home;
};

/// The world in the test's own process, on the test's run loop.
class EmbeddedWorld : public PortWorld {
public:
    CoreAudio& audio() override { return world.audio; }
    Accessibility& accessibility() override { return world.desktop; }
    Workspace& workspace() override { return world.workspace; }
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

    SessionWorld world{loop, home.path()};
    SessionCommands commands{world, loop, [] {}};
};

/// A tessaly-session process of its own (isolated home and runtime folder), reached as a client.
class SessionProcess : public PortWorld {
public:
    SessionProcess() {
        pid_ = runner_.start(TESSALY_SESSION_PATH, {"run"}, home / "session.out", home / "session.err");
        const RuntimeDirectory runtime(runtime_.path());
        for (int attempt = 0; attempt < 500 && !connection; ++attempt) {
            connection = SessionConnection::connectIfRunning(runtime, "tessaly-platform-session-tests");
            if (!connection && ProcessRunner::waitFor(pid_, 0.01)) break;
        }
        if (!connection)
            throw std::runtime_error("the session did not start: " + readFile(home / "session.err"));
        audio_ = std::make_unique<SessionCoreAudio>(connection);
        accessibility_ = std::make_unique<SessionAccessibility>(connection, &loop);
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
    /// The socket the session serves.
    std::string socketPath() const { return runtime_ / SessionProtocol::socketName; }
    int pid() const { return pid_; }

    std::shared_ptr<SessionConnection> connection;

private:
    TemporaryDirectory runtime_;
    ProcessRunner runner_{{{"HOME", home.path()}, {"XDG_RUNTIME_DIR", runtime_.path()}}};
    int pid_ = -1;
    PosixWorkspace files_;
    std::unique_ptr<SessionCoreAudio> audio_;
    std::unique_ptr<SessionAccessibility> accessibility_;
    std::unique_ptr<SessionWorkspace> workspace_;
};

}  // namespace tessaly::testing
