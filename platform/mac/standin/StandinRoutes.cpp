#include "mac/standin/StandinRoutes.h"

#include "mac/standin/MacStandin.h"

namespace tessaly::MacStandin {

namespace {
// The stand-in plays the operating system, which exists once per process.
CoreAudio* coreAudio = nullptr;
Accessibility* accessibility = nullptr;
RunLoop* mainQueue = nullptr;
Log* log = nullptr;
MessagePorts* messagePorts = nullptr;
ServiceManagement* serviceManagement = nullptr;
Workspace* workspace = nullptr;
}  // namespace

void routeCoreAudio(CoreAudio* audio) {
    coreAudio = audio;
}

void routeAccessibility(Accessibility* routed) {
    accessibility = routed;
}

void routeMainQueue(RunLoop* runLoop) {
    mainQueue = runLoop;
}

void routeLog(Log* routed) {
    log = routed;
}

void routeMessagePorts(MessagePorts* ports) {
    messagePorts = ports;
}

void routeServiceManagement(ServiceManagement* routed) {
    serviceManagement = routed;
}

void routeWorkspace(Workspace* routed) {
    workspace = routed;
}

ServiceManagement* routedServiceManagement() {
    return serviceManagement;
}

Workspace* routedWorkspace() {
    return workspace;
}

MessagePorts* routedMessagePorts() {
    return messagePorts;
}

Log* routedLog() {
    return log;
}

CoreAudio* routedCoreAudio() {
    return coreAudio;
}

Accessibility* routedAccessibility() {
    return accessibility;
}

RunLoop* routedMainQueue() {
    return mainQueue;
}

}  // namespace tessaly::MacStandin
