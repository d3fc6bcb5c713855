#include "simulated/SimulatedCoreAudio.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "foundation/Uuid.h"

namespace tessaly {

namespace {

template <typename T>
bool contains(const std::vector<T>& values, const T& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// The "uid" entries of a tap or sub-device list (an array of dictionaries); nothing when malformed.
std::optional<std::vector<std::string>> uidsOf(const CFValue& list) {
    const CFArray* entries = list.array();
    if (entries == nullptr) return std::nullopt;
    std::vector<std::string> uids;
    for (const CFValue& entry : *entries) {
        const CFDictionary* dictionary = entry.dictionary();
        if (dictionary == nullptr) return std::nullopt;
        auto uid = dictionary->find(kAudioSubDeviceUIDKey);
        if (uid == dictionary->end() || uid->second.text() == nullptr) return std::nullopt;
        uids.push_back(*uid->second.text());
    }
    return uids;
}

std::vector<AudioObjectID> idsOf(const auto& objects) {
    std::vector<AudioObjectID> ids;
    for (const auto& entry : objects) ids.push_back(entry.first);
    return ids;
}

// Whether a tap keeps this process's audio from the output device.
bool mutes(const CATapDescription& tap, AudioObjectID process, const std::string& bundleID) {
    bool listed = contains(tap.processes, process) || contains(tap.bundleIDs, bundleID);
    bool targeted = tap.isExclusive ? !listed : listed;
    // No simulated device ever reads audio from a tap, so "muted when tapped" never silences.
    return targeted && tap.muteBehavior == CATapMuted;
}

}  // namespace

// Reads a property in the shape the caller asked for; a value of another shape does not fit its buffer.
template <typename Value>
OSStatus SimulatedCoreAudio::readAs(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    Value& out) const {
    PropertyValue value;
    OSStatus status = read(object, address, value);
    if (status != kAudioHardwareNoError) return status;
    auto stored = std::get_if<Value>(&value);
    if (stored == nullptr) return kAudioHardwareBadPropertySizeError;
    out = std::move(*stored);
    return kAudioHardwareNoError;
}

// The port.

OSStatus SimulatedCoreAudio::AudioObjectGetPropertyDataSize(AudioObjectID object,
                                                            const AudioObjectPropertyAddress& address,
                                                            std::uint32_t& outDataSize) {
    auto body = [&] {
        PropertyValue value;
        OSStatus status = read(object, address, value);
        if (status != kAudioHardwareNoError) return status;
        if (auto ids = std::get_if<std::vector<AudioObjectID>>(&value)) {
            outDataSize = static_cast<std::uint32_t>(ids->size() * sizeof(AudioObjectID));
        } else if (std::holds_alternative<std::uint32_t>(value)) {
            outDataSize = sizeof(std::uint32_t);
        } else {
            outDataSize = kCFTypeRefSize;
        }
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::getPropertyDataSize, object, address.selector, body, &outDataSize);
}

OSStatus SimulatedCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                        const AudioObjectPropertyAddress& address,
                                                        std::uint32_t& ioDataSize,
                                                        std::optional<CFValue>& outObject) {
    auto body = [&] {
        std::optional<CFValue> stored;
        OSStatus status = readAs(object, address, stored);
        if (status != kAudioHardwareNoError) return status;
        if (ioDataSize < kCFTypeRefSize) return kAudioHardwareBadPropertySizeError;
        outObject = std::move(stored);
        ioDataSize = kCFTypeRefSize;
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::getPropertyData, object, address.selector, body, &ioDataSize);
}

OSStatus SimulatedCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                        const AudioObjectPropertyAddress& address,
                                                        std::uint32_t& ioDataSize, std::uint32_t& outValue) {
    auto body = [&] {
        std::uint32_t stored = 0;
        OSStatus status = readAs(object, address, stored);
        if (status != kAudioHardwareNoError) return status;
        if (ioDataSize < sizeof(std::uint32_t)) return kAudioHardwareBadPropertySizeError;
        outValue = stored;
        ioDataSize = sizeof(std::uint32_t);
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::getPropertyData, object, address.selector, body, &ioDataSize);
}

OSStatus SimulatedCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                        const AudioObjectPropertyAddress& address,
                                                        std::uint32_t& ioDataSize, AudioObjectID* outData) {
    auto body = [&] {
        std::vector<AudioObjectID> stored;
        OSStatus status = readAs(object, address, stored);
        if (status != kAudioHardwareNoError) return status;
        // A list that outgrew the caller's buffer is refused whole, never cut short.
        auto byteCount = static_cast<std::uint32_t>(stored.size() * sizeof(AudioObjectID));
        if (byteCount > ioDataSize) return kAudioHardwareBadPropertySizeError;
        std::copy(stored.begin(), stored.end(), outData);
        ioDataSize = byteCount;
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::getPropertyData, object, address.selector, body, &ioDataSize);
}

OSStatus SimulatedCoreAudio::AudioHardwareCreateProcessTap(const CATapDescription& description,
                                                           AudioObjectID& outTapID) {
    auto body = [&] {
        for (AudioObjectID process : description.processes) {
            if (!processes_.contains(process)) return kAudioHardwareBadObjectError;
        }
        if (description.deviceUID) return kAudioHardwareBadDeviceError;
        AudioObjectID id = allocateID();
        taps_[id] = Tap{description, Uuid::random().text()};
        outTapID = id;
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::createProcessTap, kAudioObjectUnknown, 0, body, nullptr, &outTapID);
}

OSStatus SimulatedCoreAudio::AudioHardwareDestroyProcessTap(AudioObjectID tapID) {
    auto body = [&] {
        return taps_.erase(tapID) == 1 ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
    };
    return perform(CoreAudioCall::destroyProcessTap, tapID, 0, body);
}

OSStatus SimulatedCoreAudio::AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                                AudioObjectID& outDeviceID) {
    auto body = [&] { return createAggregate(description, outDeviceID); };
    return perform(CoreAudioCall::createAggregateDevice, kAudioObjectUnknown, 0, body, nullptr, &outDeviceID);
}

OSStatus SimulatedCoreAudio::AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) {
    auto body = [&] {
        if (!aggregates_.contains(deviceID)) return kAudioHardwareBadObjectError;
        destroyAggregate(deviceID);
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::destroyAggregateDevice, deviceID, 0, body);
}

OSStatus SimulatedCoreAudio::AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                                 const AudioObjectPropertyAddress& address,
                                                                 RunLoop& dispatchQueue,
                                                                 AudioObjectPropertyListenerBlock block) {
    auto body = [&] {
        if (!exists(object)) return kAudioHardwareBadObjectError;
        if (!block || !*block) return kAudioHardwareIllegalOperationError;
        listeners_.push_back(Listener{object, address, &dispatchQueue, std::move(block)});
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::addPropertyListener, object, address.selector, body);
}

OSStatus SimulatedCoreAudio::AudioObjectRemovePropertyListenerBlock(
    AudioObjectID object, const AudioObjectPropertyAddress& address, RunLoop& dispatchQueue,
    const AudioObjectPropertyListenerBlock& block) {
    auto body = [&] {
        auto registered = std::find_if(listeners_.begin(), listeners_.end(), [&](const Listener& listener) {
            return listener.object == object && listener.address == address &&
                   listener.queue == &dispatchQueue && listener.block == block;
        });
        if (registered == listeners_.end()) return kAudioHardwareIllegalOperationError;
        listeners_.erase(registered);
        return kAudioHardwareNoError;
    };
    return perform(CoreAudioCall::removePropertyListener, object, address.selector, body);
}

// Processes.

AudioObjectID SimulatedCoreAudio::addProcess(std::string bundleID, std::int32_t pid) {
    return addProcessWithID(allocateID(), std::move(bundleID), pid);
}

AudioObjectID SimulatedCoreAudio::addProcessWithID(AudioObjectID id, std::string bundleID, std::int32_t pid) {
    claimID(id);
    processes_[id] = Process{std::move(bundleID), pid, false};
    processList_.push_back(id);
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    return id;
}

void SimulatedCoreAudio::removeProcess(AudioObjectID id) {
    if (processes_.erase(id) == 0) {
        throw std::invalid_argument("SimulatedCoreAudio: no process " + std::to_string(id));
    }
    std::erase(processList_, id);
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
}

void SimulatedCoreAudio::setPlaying(AudioObjectID id, bool playing) {
    process(id).playing = playing;
    notify(id, kAudioProcessPropertyIsRunningOutput);
}

std::optional<AudioObjectID> SimulatedCoreAudio::processForPID(std::int32_t pid) const {
    for (const auto& [id, state] : processes_) {
        if (state.pid == pid) return id;
    }
    return std::nullopt;
}

bool SimulatedCoreAudio::reachesOutput(AudioObjectID id) const {
    auto found = processes_.find(id);
    if (found == processes_.end()) return false;
    return std::none_of(taps_.begin(), taps_.end(), [&](const auto& tap) {
        return mutes(tap.second.description, id, found->second.bundleID);
    });
}

// Taps and aggregate devices.

std::vector<AudioObjectID> SimulatedCoreAudio::tapIDs() const {
    return idsOf(taps_);
}

std::vector<AudioObjectID> SimulatedCoreAudio::aggregateDeviceIDs() const {
    return idsOf(aggregates_);
}

const CATapDescription* SimulatedCoreAudio::tapDescription(AudioObjectID tap) const {
    auto found = taps_.find(tap);
    return found == taps_.end() ? nullptr : &found->second.description;
}

const std::string* SimulatedCoreAudio::tapUID(AudioObjectID tap) const {
    auto found = taps_.find(tap);
    return found == taps_.end() ? nullptr : &found->second.uid;
}

const CFDictionary* SimulatedCoreAudio::aggregateComposition(AudioObjectID device) const {
    auto found = aggregates_.find(device);
    return found == aggregates_.end() ? nullptr : &found->second.composition;
}

void SimulatedCoreAudio::addSubDevice(AudioObjectID device, std::string subDeviceUID) {
    aggregate(device).subDeviceUIDs.push_back(std::move(subDeviceUID));
    addOutputStream(device);
}

AudioObjectID SimulatedCoreAudio::addOutputStream(AudioObjectID device) {
    Aggregate& target = aggregate(device);
    AudioObjectID stream = allocateID();
    streams_[stream] = device;
    target.outputStreams.push_back(stream);
    return stream;
}

void SimulatedCoreAudio::setRunning(AudioObjectID device, bool running) {
    aggregate(device).running = running;
    notify(device, kAudioDevicePropertyDeviceIsRunning);
}

// Service.

void SimulatedCoreAudio::restartService() {
    for (AudioObjectID device : aggregateDeviceIDs()) destroyAggregate(device);
    taps_.clear();
    notify(kAudioObjectSystemObject, kAudioHardwarePropertyServiceRestarted);
}

// Faults.

void SimulatedCoreAudio::failNext(CoreAudioCall call, OSStatus status) {
    failures_[call].push_back(status);
}

void SimulatedCoreAudio::afterNext(CoreAudioCall call, std::function<void()> action) {
    afterActions_[call].push_back(std::move(action));
}

void SimulatedCoreAudio::createNothingNext(CoreAudioCall call) {
    ++emptyCreations_[call];
}

void SimulatedCoreAudio::misreportNextSize(CoreAudioCall call, std::uint32_t byteCount) {
    misreportedSizes_[call].push_back(byteCount);
}

void SimulatedCoreAudio::failProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                                      OSStatus status) {
    if (status == kAudioHardwareNoError) {
        propertyFailures_.erase({object, selector});
    } else {
        propertyFailures_[{object, selector}] = status;
    }
}

void SimulatedCoreAudio::overrideObject(AudioObjectID object, AudioObjectPropertySelector selector,
                                        std::optional<CFValue> value) {
    objectOverrides_.insert_or_assign({object, selector}, std::move(value));
}

void SimulatedCoreAudio::alterTapDescription(AudioObjectID tap,
                                             const std::function<void(CATapDescription&)>& change) {
    const CATapDescription* kept = tapDescription(tap);
    if (kept == nullptr) throw std::invalid_argument("SimulatedCoreAudio: no tap " + std::to_string(tap));
    // Changes add up: start from what the tap reports now.
    CATapDescription reported = *kept;
    auto replaced = objectOverrides_.find({tap, kAudioTapPropertyDescription});
    if (replaced != objectOverrides_.end() && replaced->second && replaced->second->tapDescription()) {
        reported = *replaced->second->tapDescription();
    }
    change(reported);
    overrideObject(tap, kAudioTapPropertyDescription, CFValue(std::move(reported)));
}

// Inspection.

const std::vector<CoreAudioCallRecord>& SimulatedCoreAudio::calls() const {
    if (!keepsCalls_) throw std::logic_error("SimulatedCoreAudio: the call log is off");
    return calls_;
}

std::vector<CoreAudioCallRecord> SimulatedCoreAudio::calls(CoreAudioCall call) const {
    std::vector<CoreAudioCallRecord> result;
    const auto& all = calls();
    std::copy_if(all.begin(), all.end(), std::back_inserter(result),
                 [call](const CoreAudioCallRecord& record) { return record.call == call; });
    return result;
}

// Internals.

OSStatus SimulatedCoreAudio::perform(CoreAudioCall call, AudioObjectID object,
                                     AudioObjectPropertySelector selector,
                                     const std::function<OSStatus()>& body, std::uint32_t* reportedSize,
                                     AudioObjectID* createdObject) {
    OSStatus status = kAudioHardwareNoError;
    if (auto& failures = failures_[call]; !failures.empty()) {
        status = failures.front();
        failures.pop_front();
    } else if (int& empty = emptyCreations_[call]; createdObject != nullptr && empty > 0) {
        --empty;
        *createdObject = kAudioObjectUnknown;
    } else {
        status = body();
    }
    if (auto& sizes = misreportedSizes_[call]; reportedSize != nullptr && !sizes.empty()) {
        *reportedSize = sizes.front();
        sizes.pop_front();
    }
    if (createdObject != nullptr) {
        object = status == kAudioHardwareNoError ? *createdObject : kAudioObjectUnknown;
    }
    if (keepsCalls_) calls_.push_back(CoreAudioCallRecord{call, object, selector, status});
    if (auto& actions = afterActions_[call]; !actions.empty()) {
        auto action = std::move(actions.front());
        actions.pop_front();
        action();
    }
    return status;
}

OSStatus SimulatedCoreAudio::read(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                  PropertyValue& value) const {
    const PropertyKey key{object, address.selector};
    if (auto failure = propertyFailures_.find(key); failure != propertyFailures_.end()) {
        return failure->second;
    }
    if (!exists(object)) return kAudioHardwareBadObjectError;
    if (auto replaced = objectOverrides_.find(key); replaced != objectOverrides_.end()) {
        value = replaced->second;
        return kAudioHardwareNoError;
    }
    if (object == kAudioObjectSystemObject && address.selector == kAudioHardwarePropertyProcessObjectList) {
        value = processList_;
        return kAudioHardwareNoError;
    }
    if (auto found = processes_.find(object); found != processes_.end()) {
        const Process& state = found->second;
        switch (address.selector) {
            case kAudioProcessPropertyBundleID:
                value = std::optional<CFValue>(state.bundleID);
                break;
            case kAudioProcessPropertyPID:
                value = static_cast<std::uint32_t>(state.pid);
                break;
            case kAudioProcessPropertyIsRunningOutput:
                value = std::uint32_t{state.playing ? 1u : 0u};
                break;
            default:
                return kAudioHardwareUnknownPropertyError;
        }
        return kAudioHardwareNoError;
    }
    if (auto found = taps_.find(object); found != taps_.end()) {
        switch (address.selector) {
            case kAudioTapPropertyUID:
                value = std::optional<CFValue>(found->second.uid);
                break;
            case kAudioTapPropertyDescription:
                value = std::optional<CFValue>(found->second.description);
                break;
            default:
                return kAudioHardwareUnknownPropertyError;
        }
        return kAudioHardwareNoError;
    }
    if (auto found = aggregates_.find(object); found != aggregates_.end()) {
        return readAggregate(found->second, address, value);
    }
    return kAudioHardwareUnknownPropertyError;
}

OSStatus SimulatedCoreAudio::readAggregate(const Aggregate& device, const AudioObjectPropertyAddress& address,
                                           PropertyValue& value) const {
    auto texts = [](const std::vector<std::string>& uids) {
        return std::optional<CFValue>(CFArray(uids.begin(), uids.end()));
    };
    switch (address.selector) {
        case kAudioAggregateDevicePropertyComposition:
            value = std::optional<CFValue>(device.composition);
            break;
        case kAudioAggregateDevicePropertyTapList:
            value = texts(device.tapUIDs);
            break;
        case kAudioAggregateDevicePropertyFullSubDeviceList:
            value = texts(device.subDeviceUIDs);
            break;
        case kAudioDevicePropertyDeviceIsRunning:
            value = std::uint32_t{device.running ? 1u : 0u};
            break;
        case kAudioDevicePropertyStreams:
            if (address.scope == kAudioObjectPropertyScopeOutput) {
                value = device.outputStreams;
            } else if (address.scope == kAudioObjectPropertyScopeInput) {
                value = device.inputStreams;
            } else if (address.scope == kAudioObjectPropertyScopeGlobal) {
                auto all = device.inputStreams;
                all.insert(all.end(), device.outputStreams.begin(), device.outputStreams.end());
                value = std::move(all);
            } else {
                return kAudioHardwareUnknownPropertyError;
            }
            break;
        default:
            return kAudioHardwareUnknownPropertyError;
    }
    return kAudioHardwareNoError;
}

bool SimulatedCoreAudio::exists(AudioObjectID object) const {
    return object == kAudioObjectSystemObject || processes_.contains(object) || taps_.contains(object) ||
           aggregates_.contains(object) || streams_.contains(object);
}

AudioObjectID SimulatedCoreAudio::allocateID() {
    return nextID_++;
}

void SimulatedCoreAudio::claimID(AudioObjectID id) {
    if (id == kAudioObjectUnknown || exists(id)) {
        throw std::invalid_argument("SimulatedCoreAudio: object id " + std::to_string(id) + " is taken");
    }
    nextID_ = std::max(nextID_, id + 1);
}

OSStatus SimulatedCoreAudio::createAggregate(const CFDictionary& description, AudioObjectID& outDeviceID) {
    auto uidEntry = description.find(kAudioAggregateDeviceUIDKey);
    const std::string* uid = uidEntry == description.end() ? nullptr : uidEntry->second.text();
    if (uid == nullptr || uid->empty()) return kAudioHardwareIllegalOperationError;
    for (const auto& [id, existing] : aggregates_) {
        if (existing.composition.at(kAudioAggregateDeviceUIDKey) == CFValue(*uid)) {
            return kAudioHardwareIllegalOperationError;
        }
    }

    Aggregate device;
    device.composition = description;
    for (auto [key, list] : {std::pair{kAudioAggregateDeviceTapListKey, &device.tapUIDs},
                             std::pair{kAudioAggregateDeviceSubDeviceListKey, &device.subDeviceUIDs}}) {
        auto entry = description.find(key);
        if (entry == description.end()) continue;
        auto uids = uidsOf(entry->second);
        if (!uids) return kAudioHardwareIllegalOperationError;
        *list = std::move(*uids);
    }
    for (const std::string& tapUID : device.tapUIDs) {
        bool known = std::any_of(taps_.begin(), taps_.end(),
                                 [&](const auto& tap) { return tap.second.uid == tapUID; });
        if (!known) return kAudioHardwareIllegalOperationError;
    }

    // The composition reports the private flag as Core Audio documents it: a number, 1 for a private
    // device and 0 for a published one (also when the description left the flag out).
    bool isPrivate = false;
    if (auto flag = description.find(kAudioAggregateDeviceIsPrivateKey); flag != description.end()) {
        if (flag->second.boolean()) isPrivate = *flag->second.boolean();
        if (flag->second.number()) isPrivate = *flag->second.number() != 0;
    }
    device.composition.insert_or_assign(kAudioAggregateDeviceIsPrivateKey, CFValue(isPrivate ? 1 : 0));

    AudioObjectID id = allocateID();
    for (std::size_t tap = 0; tap < device.tapUIDs.size(); ++tap) {
        AudioObjectID stream = allocateID();
        streams_[stream] = id;
        device.inputStreams.push_back(stream);
    }
    aggregates_[id] = std::move(device);
    for (std::size_t sub = 0; sub < aggregates_[id].subDeviceUIDs.size(); ++sub) addOutputStream(id);
    outDeviceID = id;
    return kAudioHardwareNoError;
}

void SimulatedCoreAudio::destroyAggregate(AudioObjectID device) {
    std::erase_if(streams_, [device](const auto& stream) { return stream.second == device; });
    aggregates_.erase(device);
}

void SimulatedCoreAudio::notify(AudioObjectID object, AudioObjectPropertySelector selector) {
    const AudioObjectPropertyAddress changed{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    for (const Listener& listener : listeners_) {
        if (listener.object != object || listener.address != changed) continue;
        listener.queue->post([block = listener.block, changed] { (*block)({changed}); });
    }
}

SimulatedCoreAudio::Aggregate& SimulatedCoreAudio::aggregate(AudioObjectID device) {
    auto found = aggregates_.find(device);
    if (found == aggregates_.end()) {
        throw std::invalid_argument("SimulatedCoreAudio: no aggregate device " + std::to_string(device));
    }
    return found->second;
}

SimulatedCoreAudio::Process& SimulatedCoreAudio::process(AudioObjectID id) {
    auto found = processes_.find(id);
    if (found == processes_.end()) {
        throw std::invalid_argument("SimulatedCoreAudio: no process " + std::to_string(id));
    }
    return found->second;
}

}  // namespace tessaly
