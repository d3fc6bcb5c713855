#pragma once

#include <string>

#include "ports/MessagePorts.h"
#include "service/AudioStatus.h"
#include "service/ServiceRequest.h"

namespace tessaly {

/// The client side of the status port. It keeps no state: every call opens its own remote end
/// and invalidates it before returning.
namespace StatusClient {

/// The name of the helper's status port.
inline constexpr std::string_view portName = "com.orvanne.tessaly";
/// Seconds to wait for a request to go out, and again for its reply.
inline constexpr double sendTimeout = 2.0;
inline constexpr double receiveTimeout = 2.0;

/// Whether a helper serves the port.
bool isRunning(MessagePorts& ports, const std::string& name = std::string(portName));
/// The running helper's status, not yet validated. Throws when no helper answers with one.
AudioStatus read(MessagePorts& ports, const std::string& name = std::string(portName));
/// Asks a running helper to stop; a helper that is gone, or goes away meanwhile, is no failure.
void stopIfRunning(MessagePorts& ports, const std::string& name = std::string(portName));
/// Asks a running helper to save the remembered choice now; throws when it could not.
void flushIfRunning(MessagePorts& ports, const std::string& name = std::string(portName));
/// Sends one request and returns the reply bytes; throws when none came.
std::string send(ServiceRequest request, RemoteMessagePort& port);

}  // namespace StatusClient

}  // namespace tessaly
