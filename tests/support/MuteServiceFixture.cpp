#include "support/MuteServiceFixture.h"

#include <sys/stat.h>

namespace tessaly::testing {

MuteServiceFixture::MuteServiceFixture() {
    makeService();
}

void MuteServiceFixture::makeService() {
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

void MuteServiceFixture::storeChoice(double volume, double unmutedVolume) {
    store.save(AudioPreference::make(volume, unmutedVolume));
}

AudioPreference MuteServiceFixture::storedChoice() const {
    return store.load();
}

unsigned long MuteServiceFixture::fileIdentity() const {
    struct stat info {};
    if (::stat(store.path().c_str(), &info) != 0) return 0;
    return info.st_ino;
}

void MuteServiceFixture::start() {
    service->start();
    runLoop.runUntilIdle();
}

}  // namespace tessaly::testing
