#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "service/MuteService.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedMessagePorts.h"
#include "support/DesktopFixture.h"
#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// What a test sees when the service ends the process.
struct ProcessExit {
    int status;
};

/// A mute service in a simulated world on virtual time: Core Audio, the desktop with Finder running,
/// message ports, and a home folder of its own.
class MuteServiceFixture : public DesktopFixture {
protected:
    static constexpr ProcessID helperPID = 4242;
    static constexpr const char* quickLook = "com.apple.quicklook.QuickLookUIService";

    MuteServiceFixture() { makeService(); }
    /// A new service on the same world, not started (the fixture starts with one).
    void makeService() {
        MuteServicePlatform platform{audio,
                                     desktop,
                                     workspace,
                                     runLoop,
                                     ports,
                                     log,
                                     [] { return helperPID; },
                                     [](int status) { throw ProcessExit{status}; }};
        // Every pass asks for the hosts once: a record of when the service refreshed.
        auto hosts = [this] {
            refreshTimes.push_back(runLoop.now());
            return std::vector<ProcessID>{finder};
        };
        service = std::make_unique<MuteService>(platform, store, hosts);
    }

    /// Writes audio.json before the service starts.
    void storeChoice(double volume, double unmutedVolume) {
        store.save(AudioPreference::make(volume, unmutedVolume));
    }
    /// The stored choice, as the file holds it now.
    AudioPreference storedChoice() const { return store.load(); }
    /// The file's inode: a new one means the file was written again.
    unsigned long fileIdentity() const {
        struct stat info {};
        return ::stat(store.path().c_str(), &info) == 0 ? info.st_ino : 0;
    }

    /// Starts the service and lets everything it posted run.
    void start() {
        service->start();
        runLoop.runUntilIdle();
    }
    /// Whether a process's audio reaches the output device.
    bool audible(AudioObjectID process) const { return audio.reachesOutput(process); }

    SimulatedCoreAudio audio;
    SimulatedMessagePorts ports;
    TemporaryDirectory home;
    PreferenceStore store = PreferenceStore::forHome(home.path());
    std::unique_ptr<MuteService> service;
    /// When the service's refreshes ran, on the virtual clock.
    std::vector<double> refreshTimes;
};

}  // namespace tessaly::testing
