#include "SessionPeer.h"

#include "foundation/DecodingError.h"

namespace tessaly {

using Operation = SessionProtocol::Operation;
using SessionFrame::Reader;
using SessionFrame::Writer;

namespace {

// A request's kind, sequence number and operation, before its arguments.
constexpr std::size_t requestHeaderSize = 6;

}  // namespace

// What the session's observer callback needs to reach the client: kept alive as long as the
// observer it was registered on, so that a notification on its way never finds it gone.
struct SessionPeer::Registration {
    std::weak_ptr<SessionPeer> peer;
    std::uint64_t observer;
    std::uint64_t registration;
};

SessionPeer::SessionPeer(SessionWorld& world, RunLoop& runLoop, Sender sender, Dropper drop,
                         CommandRunner commands)
    : world_(world),
      runLoop_(runLoop),
      sender_(std::move(sender)),
      drop_(std::move(drop)),
      commands_(std::move(commands)) {}

SessionPeer::~SessionPeer() {
    release();
}

void SessionPeer::release() {
    if (released_) return;
    released_ = true;
    // Aggregate devices first: each holds a tap.
    for (AudioObjectID device : aggregates_) world_.audio.AudioHardwareDestroyAggregateDevice(device);
    for (AudioObjectID tap : taps_) world_.audio.AudioHardwareDestroyProcessTap(tap);
    aggregates_.clear();
    taps_.clear();
    for (const auto& [id, listener] : listeners_) {
        world_.audio.AudioObjectRemovePropertyListenerBlock(listener.object, listener.address, runLoop_,
                                                            listener.block);
    }
    listeners_.clear();
    for (auto& [id, entry] : observers_) entry.observer.reset();  // the observer first, then its contexts
    observers_.clear();
    world_.noteChanges();
}

void SessionPeer::receive(std::string_view message) {
    Reader header(message);
    if (header.u8() != SessionProtocol::request)
        throw DecodingError("a client sent something other than a request");
    const std::uint32_t sequence = header.u32();
    const auto operation = static_cast<Operation>(header.u8());
    std::string arguments(message.substr(requestHeaderSize));
    std::weak_ptr<SessionPeer> weak = weak_from_this();
    Reply reply = [weak, sequence](const Writer& results) {
        auto self = weak.lock();
        if (!self || self->released_ || sequence == 0) return;  // gone, or a one-way request
        Writer answer;
        answer.u8(SessionProtocol::reply).u32(sequence);
        self->sender_(answer.bytes() + results.bytes());
    };
    auto run = [weak, operation, arguments, reply] {
        auto self = weak.lock();
        if (!self || self->released_) return;
        try {
            Reader fields(arguments);
            self->perform(operation, fields, reply);
            fields.finish();
        } catch (const std::exception& error) {
            // Bytes that are not a call, or a call the world cannot take: this client is dropped,
            // the session and every other client carry on.
            self->drop_(error.what());
        }
    };
    const double delay = delayFor(operation, Reader(arguments));
    if (delay > 0) {
        runLoop_.postAfter(delay, std::move(run));
    } else {
        run();
    }
}

double SessionPeer::delayFor(Operation operation, Reader arguments) {
    switch (operation) {
        case SessionProtocol::audioGetPropertyDataSize:
        case SessionProtocol::audioGetObject:
        case SessionProtocol::audioGetUInt32:
        case SessionProtocol::audioGetObjectIDs:
        case SessionProtocol::audioCreateProcessTap:
        case SessionProtocol::audioDestroyProcessTap:
        case SessionProtocol::audioCreateAggregateDevice:
        case SessionProtocol::audioDestroyAggregateDevice:
        case SessionProtocol::audioAddListener:
        case SessionProtocol::audioRemoveListener:
            world_.countCall(false);
            return world_.book(false, world_.latency.coreAudio);
        case SessionProtocol::axCopyAttributeValue:
        case SessionProtocol::axSetAttributeValue:
        case SessionProtocol::axIsAttributeSettable:
        case SessionProtocol::axPerformAction: {
            world_.countCall(true);
            // A Finder that does not answer holds the caller until its messaging timeout.
            if (world_.slowFinder()) return world_.slowFinderDelay(AXUIElement(arguments.u64()));
            return world_.book(true, world_.latency.accessibility);
        }
        case SessionProtocol::axObserverAddNotification:
        case SessionProtocol::axObserverRemoveNotification:
            world_.countCall(true);
            return world_.book(true, world_.latency.accessibility);
        default:
            return 0;  // answered inside the calling process on a Mac
    }
}

void SessionPeer::perform(Operation operation, Reader& arguments, const Reply& reply) {
    if (operation == SessionProtocol::hello) {
        const std::uint32_t version = arguments.u32();
        const std::string client = arguments.text();
        const std::int32_t pid = arguments.i32();
        name_ = client + " (pid " + std::to_string(pid) + ")";
        reply(Writer().u32(version == SessionProtocol::version ? SessionProtocol::version : 0));
    } else if (operation == SessionProtocol::command) {
        const std::vector<std::string> words = arguments.texts();
        // The answer may come later (a command that waits for the helper), after this call returned.
        commands_(words,
                  [reply](int status, std::string output) { reply(Writer().i32(status).text(output)); });
    } else if (operation < SessionProtocol::axIsProcessTrusted) {
        performAudio(operation, arguments, reply);
    } else if (operation < SessionProtocol::workspaceRunningApplications) {
        performAccessibility(operation, arguments, reply);
    } else {
        performWorkspace(operation, arguments, reply);
    }
    world_.noteChanges();
}

void SessionPeer::performAudio(Operation operation, Reader& arguments, const Reply& reply) {
    CoreAudio& audio = world_.audio;
    switch (operation) {
        case SessionProtocol::audioGetPropertyDataSize: {
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            std::uint32_t size = 0;
            const OSStatus status = audio.AudioObjectGetPropertyDataSize(object, address, size);
            return reply(Writer().i32(status).u32(size));
        }
        case SessionProtocol::audioGetObject: {
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            std::uint32_t size = arguments.u32();
            std::optional<CFValue> value;
            const OSStatus status = audio.AudioObjectGetPropertyData(object, address, size, value);
            return reply(Writer().i32(status).u32(size).optionalValue(value));
        }
        case SessionProtocol::audioGetUInt32: {
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            std::uint32_t size = arguments.u32();
            std::uint32_t value = 0;
            const OSStatus status = audio.AudioObjectGetPropertyData(object, address, size, value);
            return reply(Writer().i32(status).u32(size).u32(value));
        }
        case SessionProtocol::audioGetObjectIDs: {
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            std::uint32_t size = arguments.u32();
            if (size > SessionFrame::maxFrameSize / 2)
                throw DecodingError("a list read asks for too many bytes");
            std::vector<AudioObjectID> buffer((size + sizeof(AudioObjectID) - 1) / sizeof(AudioObjectID));
            const OSStatus status = audio.AudioObjectGetPropertyData(object, address, size, buffer.data());
            return reply(Writer().i32(status).u32(size).ids(buffer));
        }
        case SessionProtocol::audioCreateProcessTap: {
            const CATapDescription description = arguments.tap();
            AudioObjectID tap = kAudioObjectUnknown;
            const OSStatus status = audio.AudioHardwareCreateProcessTap(description, tap);
            if (status == kAudioHardwareNoError && tap != kAudioObjectUnknown) {
                taps_.insert(tap);
                world_.setOwner(tap, name_);
            }
            return reply(Writer().i32(status).u32(tap));
        }
        case SessionProtocol::audioDestroyProcessTap: {
            const AudioObjectID tap = arguments.u32();
            const OSStatus status = audio.AudioHardwareDestroyProcessTap(tap);
            if (status == kAudioHardwareNoError) taps_.erase(tap);
            return reply(Writer().i32(status));
        }
        case SessionProtocol::audioCreateAggregateDevice: {
            const CFDictionary description = arguments.dictionary();
            AudioObjectID device = kAudioObjectUnknown;
            const OSStatus status = audio.AudioHardwareCreateAggregateDevice(description, device);
            if (status == kAudioHardwareNoError && device != kAudioObjectUnknown) {
                aggregates_.insert(device);
                world_.setOwner(device, name_);
            }
            return reply(Writer().i32(status).u32(device));
        }
        case SessionProtocol::audioDestroyAggregateDevice: {
            const AudioObjectID device = arguments.u32();
            const OSStatus status = audio.AudioHardwareDestroyAggregateDevice(device);
            if (status == kAudioHardwareNoError) aggregates_.erase(device);
            return reply(Writer().i32(status));
        }
        case SessionProtocol::audioAddListener: {
            const std::uint32_t id = arguments.u32();
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            if (listeners_.count(id)) throw DecodingError("a client registered one listener id twice");
            std::weak_ptr<SessionPeer> weak = weak_from_this();
            auto block =
                makeListenerBlock([weak, id](const std::vector<AudioObjectPropertyAddress>& addresses) {
                    auto self = weak.lock();
                    if (!self || self->released_) return;
                    Writer event;
                    event.u8(SessionProtocol::event).u8(SessionProtocol::audioPropertiesChanged).u32(id);
                    event.u32(static_cast<std::uint32_t>(addresses.size()));
                    for (const auto& changed : addresses) event.address(changed);
                    self->sender_(event.bytes());
                });
            const OSStatus status =
                audio.AudioObjectAddPropertyListenerBlock(object, address, runLoop_, block);
            if (status == kAudioHardwareNoError) listeners_[id] = Listener{object, address, block};
            return reply(Writer().i32(status));
        }
        case SessionProtocol::audioRemoveListener: {
            const std::uint32_t id = arguments.u32();
            const AudioObjectID object = arguments.u32();
            const AudioObjectPropertyAddress address = arguments.address();
            auto found = listeners_.find(id);
            // A block the session never saw is a block Core Audio does not know.
            const AudioObjectPropertyListenerBlock block =
                found != listeners_.end() ? found->second.block : makeListenerBlock([](const auto&) {});
            const OSStatus status =
                audio.AudioObjectRemovePropertyListenerBlock(object, address, runLoop_, block);
            if (status == kAudioHardwareNoError && found != listeners_.end()) listeners_.erase(found);
            return reply(Writer().i32(status));
        }
        default:
            throw DecodingError("a client asked for an unknown Core Audio call");
    }
}

void SessionPeer::deliverNotification(const AXObserverRef&, const AXUIElement& element,
                                      const std::string& notification, void* refcon) {
    const auto* registration = static_cast<const Registration*>(refcon);
    auto self = registration->peer.lock();
    if (!self || self->released_) return;
    Writer event;
    event.u8(SessionProtocol::event).u8(SessionProtocol::axNotification);
    event.u64(registration->observer)
        .u64(registration->registration)
        .u64(element.identity())
        .text(notification);
    self->sender_(event.bytes());
}

AXObserverRef SessionPeer::observer(std::uint64_t id) const {
    auto found = observers_.find(id);
    return found == observers_.end() ? nullptr : found->second.observer;
}

void SessionPeer::performAccessibility(Operation operation, Reader& arguments, const Reply& reply) {
    Accessibility& accessibility = world_.desktop;
    switch (operation) {
        case SessionProtocol::axIsProcessTrusted:
            return reply(Writer().boolean(accessibility.isProcessTrusted()));
        case SessionProtocol::axIsProcessTrustedWithOptions:
            return reply(Writer().boolean(accessibility.isProcessTrustedWithOptions(arguments.boolean())));
        case SessionProtocol::axCreateApplication:
            return reply(Writer().u64(accessibility.createApplication(arguments.i32()).identity()));
        case SessionProtocol::axCopyAttributeValue: {
            const AXUIElement element(arguments.u64());
            const std::string attribute = arguments.text();
            std::optional<CFValue> value;
            const AXError status = accessibility.copyAttributeValue(element, attribute, value);
            return reply(Writer().i32(status).optionalValue(value));
        }
        case SessionProtocol::axSetAttributeValue: {
            const AXUIElement element(arguments.u64());
            const std::string attribute = arguments.text();
            const CFValue value = arguments.value();
            return reply(Writer().i32(accessibility.setAttributeValue(element, attribute, value)));
        }
        case SessionProtocol::axIsAttributeSettable: {
            const AXUIElement element(arguments.u64());
            const std::string attribute = arguments.text();
            bool settable = false;
            const AXError status = accessibility.isAttributeSettable(element, attribute, settable);
            return reply(Writer().i32(status).boolean(settable));
        }
        case SessionProtocol::axPerformAction: {
            const AXUIElement element(arguments.u64());
            const std::string action = arguments.text();
            return reply(Writer().i32(accessibility.performAction(element, action)));
        }
        case SessionProtocol::axGetPid: {
            ProcessID pid = 0;
            const AXError status = accessibility.getPid(AXUIElement(arguments.u64()), pid);
            return reply(Writer().i32(status).i32(pid));
        }
        case SessionProtocol::axSetMessagingTimeout: {
            const AXUIElement element(arguments.u64());
            const double seconds = arguments.f64();
            return reply(
                Writer().i32(accessibility.setMessagingTimeout(element, static_cast<float>(seconds))));
        }
        case SessionProtocol::axObserverCreate: {
            const ProcessID pid = arguments.i32();
            const bool hasCallback = arguments.boolean();
            AXObserverRef created;
            const AXError status = accessibility.observerCreate(
                pid, hasCallback ? &SessionPeer::deliverNotification : nullptr, created);
            std::uint64_t id = 0;
            if (created) {
                id = nextObserver_++;
                observers_[id].observer = std::move(created);
            }
            return reply(Writer().i32(status).u64(id));
        }
        case SessionProtocol::axObserverAddNotification: {
            const std::uint64_t id = arguments.u64();
            const std::uint64_t registration = arguments.u64();
            const AXUIElement element(arguments.u64());
            const std::string notification = arguments.text();
            auto found = observers_.find(id);
            void* refcon = nullptr;
            if (found != observers_.end()) {
                found->second.registrations.push_back(
                    std::make_unique<Registration>(Registration{weak_from_this(), id, registration}));
                refcon = found->second.registrations.back().get();
            }
            return reply(Writer().i32(
                accessibility.observerAddNotification(observer(id), element, notification, refcon)));
        }
        case SessionProtocol::axObserverRemoveNotification: {
            const std::uint64_t id = arguments.u64();
            const AXUIElement element(arguments.u64());
            const std::string notification = arguments.text();
            return reply(
                Writer().i32(accessibility.observerRemoveNotification(observer(id), element, notification)));
        }
        case SessionProtocol::axObserverAddToRunLoop:
            accessibility.observerAddToMainRunLoop(observer(arguments.u64()));
            return reply(Writer());
        case SessionProtocol::axObserverRemoveFromRunLoop:
            accessibility.observerRemoveFromMainRunLoop(observer(arguments.u64()));
            return reply(Writer());
        case SessionProtocol::axObserverRelease: {
            auto found = observers_.find(arguments.u64());
            if (found == observers_.end()) return;
            found->second.observer.reset();  // the observer first, then its contexts
            observers_.erase(found);
            return;
        }
        default:
            throw DecodingError("a client asked for an unknown Accessibility call");
    }
}

void SessionPeer::performWorkspace(Operation operation, Reader& arguments, const Reply& reply) {
    switch (operation) {
        case SessionProtocol::workspaceRunningApplications: {
            const auto applications = world_.workspace.runningApplications(arguments.text());
            Writer results;
            results.u32(static_cast<std::uint32_t>(applications.size()));
            for (const auto& application : applications) {
                results.i32(application.processIdentifier).boolean(application.bundleIdentifier.has_value());
                if (application.bundleIdentifier) results.text(*application.bundleIdentifier);
            }
            return reply(results);
        }
        case SessionProtocol::workspaceOpenURL:
            return reply(Writer().boolean(world_.workspace.openURL(arguments.text())));
        case SessionProtocol::workspaceRevealFolder:
            return reply(Writer().boolean(world_.workspace.revealFolder(arguments.text())));
        default:
            throw DecodingError("a client asked for an unknown call");
    }
}

}  // namespace tessaly
