#pragma once
// Which simulation each stand-in framework answers from (set through MacStandin.h).

namespace tessaly {
class Accessibility;
class CoreAudio;
class Log;
class MessagePorts;
class RunLoop;
class ServiceManagement;
class Workspace;
}  // namespace tessaly

namespace tessaly::MacStandin {

CoreAudio* routedCoreAudio();
Accessibility* routedAccessibility();
RunLoop* routedMainQueue();
Log* routedLog();
MessagePorts* routedMessagePorts();
ServiceManagement* routedServiceManagement();
Workspace* routedWorkspace();

}  // namespace tessaly::MacStandin
