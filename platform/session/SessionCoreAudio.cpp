#include "session/SessionCoreAudio.h"

#include <algorithm>

namespace tessaly {

namespace {

using Operation = SessionProtocol::Operation;

// The largest id list a read asks for, as a session would refuse a larger frame.
constexpr std::uint32_t maxListBytes = SessionFrame::maxFrameSize / 2;

}  // namespace

SessionCoreAudio::SessionCoreAudio(std::shared_ptr<SessionConnection> connection)
    : connection_(std::move(connection)), listeners_(std::make_shared<Listeners>()) {
    std::weak_ptr<Listeners> weak = listeners_;
    connection_->onEvent(SessionProtocol::audioPropertiesChanged, [weak](SessionFrame::Reader& fields) {
        const std::uint32_t id = fields.u32();
        const std::uint32_t count = fields.u32();
        std::vector<AudioObjectPropertyAddress> addresses;
        for (std::uint32_t index = 0; index < count && !fields.atEnd(); ++index)
            addresses.push_back(fields.address());
        fields.finish();
        auto listeners = weak.lock();
        if (!listeners) return;
        std::lock_guard lock(listeners->mutex);
        auto found = listeners->registered.find(id);
        if (found == listeners->registered.end()) return;
        // As a block dispatched to its queue, never inside the call that changed the property.
        found->second.queue->post([block = found->second.block, addresses] { (*block)(addresses); });
    });
    connection_->onLost([weak] {
        auto listeners = weak.lock();
        if (!listeners) return;
        std::lock_guard lock(listeners->mutex);
        for (const auto& [id, listener] : listeners->registered) {
            if (listener.object != kAudioObjectSystemObject ||
                listener.address.selector != kAudioHardwarePropertyServiceRestarted)
                continue;
            listener.queue->post(
                [block = listener.block, address = listener.address] { (*block)({address}); });
        }
    });
}

SessionCoreAudio::~SessionCoreAudio() {
    std::lock_guard lock(listeners_->mutex);
    listeners_->registered.clear();
}

std::optional<std::string> SessionCoreAudio::call(Operation operation,
                                                  const SessionFrame::Writer& arguments) {
    return connection_->call(operation, arguments);
}

OSStatus SessionCoreAudio::AudioObjectGetPropertyDataSize(AudioObjectID object,
                                                          const AudioObjectPropertyAddress& address,
                                                          std::uint32_t& outDataSize) {
    const auto reply =
        call(SessionProtocol::audioGetPropertyDataSize, SessionFrame::Writer().u32(object).address(address));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    outDataSize = fields.u32();
    return status;
}

OSStatus SessionCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                      const AudioObjectPropertyAddress& address,
                                                      std::uint32_t& ioDataSize,
                                                      std::optional<CFValue>& outObject) {
    const auto reply = call(SessionProtocol::audioGetObject,
                            SessionFrame::Writer().u32(object).address(address).u32(ioDataSize));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    ioDataSize = fields.u32();
    outObject = fields.optionalValue();
    return status;
}

OSStatus SessionCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                      const AudioObjectPropertyAddress& address,
                                                      std::uint32_t& ioDataSize, std::uint32_t& outValue) {
    const auto reply = call(SessionProtocol::audioGetUInt32,
                            SessionFrame::Writer().u32(object).address(address).u32(ioDataSize));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    ioDataSize = fields.u32();
    outValue = fields.u32();
    return status;
}

OSStatus SessionCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                      const AudioObjectPropertyAddress& address,
                                                      std::uint32_t& ioDataSize, AudioObjectID* outData) {
    const std::uint32_t capacity = ioDataSize;
    const auto reply =
        call(SessionProtocol::audioGetObjectIDs,
             SessionFrame::Writer().u32(object).address(address).u32(std::min(capacity, maxListBytes)));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    ioDataSize = fields.u32();
    const std::vector<std::uint32_t> ids = fields.ids();
    const std::size_t fits = std::min<std::size_t>(ids.size(), capacity / sizeof(AudioObjectID));
    std::copy_n(ids.begin(), fits, outData);
    return status;
}

OSStatus SessionCoreAudio::AudioHardwareCreateProcessTap(const CATapDescription& description,
                                                         AudioObjectID& outTapID) {
    const auto reply = call(SessionProtocol::audioCreateProcessTap, SessionFrame::Writer().tap(description));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    outTapID = fields.u32();
    return status;
}

OSStatus SessionCoreAudio::AudioHardwareDestroyProcessTap(AudioObjectID tapID) {
    const auto reply = call(SessionProtocol::audioDestroyProcessTap, SessionFrame::Writer().u32(tapID));
    if (!reply) return kAudioHardwareNotRunningError;
    return SessionFrame::Reader(*reply).i32();
}

OSStatus SessionCoreAudio::AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                              AudioObjectID& outDeviceID) {
    const auto reply =
        call(SessionProtocol::audioCreateAggregateDevice, SessionFrame::Writer().dictionary(description));
    if (!reply) return kAudioHardwareNotRunningError;
    SessionFrame::Reader fields(*reply);
    const OSStatus status = fields.i32();
    outDeviceID = fields.u32();
    return status;
}

OSStatus SessionCoreAudio::AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) {
    const auto reply =
        call(SessionProtocol::audioDestroyAggregateDevice, SessionFrame::Writer().u32(deviceID));
    if (!reply) return kAudioHardwareNotRunningError;
    return SessionFrame::Reader(*reply).i32();
}

OSStatus SessionCoreAudio::AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                               const AudioObjectPropertyAddress& address,
                                                               RunLoop& dispatchQueue,
                                                               AudioObjectPropertyListenerBlock block) {
    std::uint32_t id = 0;
    {
        std::lock_guard lock(listeners_->mutex);
        id = listeners_->nextID++;
        // Registered before the request, so that an event sent right after the reply finds it.
        listeners_->registered[id] = Listener{object, address, &dispatchQueue, std::move(block)};
    }
    const auto reply =
        call(SessionProtocol::audioAddListener, SessionFrame::Writer().u32(id).u32(object).address(address));
    const OSStatus status = reply ? SessionFrame::Reader(*reply).i32() : kAudioHardwareNotRunningError;
    if (status != kAudioHardwareNoError) {
        std::lock_guard lock(listeners_->mutex);
        listeners_->registered.erase(id);
    }
    return status;
}

OSStatus SessionCoreAudio::AudioObjectRemovePropertyListenerBlock(
    AudioObjectID object, const AudioObjectPropertyAddress& address, RunLoop& dispatchQueue,
    const AudioObjectPropertyListenerBlock& block) {
    std::uint32_t id = 0;  // no registration of ours: the session answers as for an unknown block
    {
        std::lock_guard lock(listeners_->mutex);
        for (const auto& [candidate, listener] : listeners_->registered) {
            if (listener.object == object && listener.address == address &&
                listener.queue == &dispatchQueue && listener.block == block) {
                id = candidate;
                break;
            }
        }
    }
    const auto reply = call(SessionProtocol::audioRemoveListener,
                            SessionFrame::Writer().u32(id).u32(object).address(address));
    const OSStatus status = reply ? SessionFrame::Reader(*reply).i32() : kAudioHardwareNotRunningError;
    if (status == kAudioHardwareNoError) {
        std::lock_guard lock(listeners_->mutex);
        listeners_->registered.erase(id);
    }
    return status;
}

}  // namespace tessaly
