#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ports/CoreAudio.h"

namespace tessaly {

/// The Core Audio calls of the port, for fault injection and the call log.
enum class CoreAudioCall {
    getPropertyDataSize,
    getPropertyData,
    createProcessTap,
    destroyProcessTap,
    createAggregateDevice,
    destroyAggregateDevice,
    addPropertyListener,
    removePropertyListener,
};

/// One call the simulation answered, in order.
struct CoreAudioCallRecord {
    CoreAudioCall call;
    /// The object the call addressed; for a creation, the new object (0 when it failed).
    AudioObjectID object = kAudioObjectUnknown;
    /// The property's selector for reads and listeners, 0 otherwise.
    AudioObjectPropertySelector selector = 0;
    OSStatus status = kAudioHardwareNoError;

    friend bool operator==(const CoreAudioCallRecord&, const CoreAudioCallRecord&) = default;
};

/// Whether a simulation keeps the log of the calls it answered. Only tests read it; a world that
/// runs for days (the helper built for Linux) keeps none, or the log would grow with every call.
enum class CoreAudioCallLog { off, kept };

/// An in-memory Core Audio: the system object with its process list, process objects, process
/// taps that keep their descriptions, aggregate devices built from description dictionaries,
/// streams, and property listeners on the system object delivered through the run loop.
///
/// Where the real service's behaviour had to be chosen, it is:
/// - object ids are unique and increasing, starting after the system object; tests may pick ids;
/// - an unknown object answers kAudioHardwareBadObjectError ("!obj"), an unknown property
///   kAudioHardwareUnknownPropertyError ("who?"), a data size too small for the value (or of the
///   wrong shape) kAudioHardwareBadPropertySizeError ("!siz");
/// - a tap listing a process object that does not exist is refused with "!obj", one naming an
///   output device (deviceUID) with kAudioHardwareBadDeviceError ("!dev"): no devices are simulated;
/// - an aggregate description without a text "uid", with a UID already in use, or naming a tap UID
///   that no tap has is refused with kAudioHardwareIllegalOperationError ("nope");
/// - a tap silences the processes it targets (listed by object id or by bundle identifier, or all
///   the others when exclusive) while its mute behaviour is CATapMuted; no audio is ever read from
///   a tap, so CATapMutedWhenTapped never silences;
/// - an aggregate's composition reports "private" as a number, 1 private and 0 published;
/// - an aggregate has one input stream per tap and one output stream per sub-device;
/// - listeners hear "prs#" on the system object when a process comes or goes, "srst" on a restart,
///   "piro" on a process and "goin" on a device when they change; each change is posted separately;
/// - removing a listener that is not registered answers "nope";
/// - a listener notification already queued when its listener is removed is still delivered, as
///   with a block already dispatched to a queue;
/// - a service restart notifies "srst" listeners and loses every tap and aggregate device (they
///   belonged to the old daemon); process objects and listener registrations survive.
class SimulatedCoreAudio : public CoreAudio {
public:
    explicit SimulatedCoreAudio(CoreAudioCallLog callLog = CoreAudioCallLog::off)
        : keepsCalls_(callLog == CoreAudioCallLog::kept) {}
    SimulatedCoreAudio(const SimulatedCoreAudio&) = delete;
    SimulatedCoreAudio& operator=(const SimulatedCoreAudio&) = delete;

    // The port.
    OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::uint32_t& outDataSize) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize,
                                        std::optional<CFValue>& outObject) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, std::uint32_t& outValue) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, AudioObjectID* outData) override;
    OSStatus AudioHardwareCreateProcessTap(const CATapDescription& description,
                                           AudioObjectID& outTapID) override;
    OSStatus AudioHardwareDestroyProcessTap(AudioObjectID tapID) override;
    OSStatus AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                AudioObjectID& outDeviceID) override;
    OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 RunLoop& dispatchQueue,
                                                 AudioObjectPropertyListenerBlock block) override;
    OSStatus AudioObjectRemovePropertyListenerBlock(AudioObjectID object,
                                                    const AudioObjectPropertyAddress& address,
                                                    RunLoop& dispatchQueue,
                                                    const AudioObjectPropertyListenerBlock& block) override;

    // Processes.

    /// A process starts using audio: a new process object at the end of the process list.
    AudioObjectID addProcess(std::string bundleID, std::int32_t pid);
    /// The same with an object id the test picks (it must be unused and not 0 or 1).
    AudioObjectID addProcessWithID(AudioObjectID id, std::string bundleID, std::int32_t pid);
    /// The process object goes away; later reads of it answer "!obj".
    void removeProcess(AudioObjectID process);
    /// The process starts or stops producing output.
    void setPlaying(AudioObjectID process, bool playing);
    /// The process objects in Core Audio's list order.
    const std::vector<AudioObjectID>& processList() const { return processList_; }
    /// The object id of the process with this process id, if Core Audio knows one.
    std::optional<AudioObjectID> processForPID(std::int32_t pid) const;
    /// What users hear: false while a muting tap targets the process (or it does not exist).
    bool reachesOutput(AudioObjectID process) const;

    // Taps and aggregate devices.

    /// Ids of the existing taps, ascending.
    std::vector<AudioObjectID> tapIDs() const;
    /// Ids of the existing aggregate devices, ascending.
    std::vector<AudioObjectID> aggregateDeviceIDs() const;
    /// The description a tap was made with, or null when there is no such tap.
    const CATapDescription* tapDescription(AudioObjectID tap) const;
    /// The UID Core Audio gave a tap, or null when there is no such tap.
    const std::string* tapUID(AudioObjectID tap) const;
    /// The composition of an aggregate device, or null when there is no such device.
    const CFDictionary* aggregateComposition(AudioObjectID device) const;
    /// Adds a sub-device (and its output stream) to an aggregate device.
    void addSubDevice(AudioObjectID device, std::string subDeviceUID);
    /// Adds one output stream to an aggregate device; returns the stream's id.
    AudioObjectID addOutputStream(AudioObjectID device);
    /// Starts or stops audio I/O on an aggregate device.
    void setRunning(AudioObjectID device, bool running);

    // Service.

    /// coreaudiod restarts: "srst" listeners are notified and every tap and aggregate device is gone.
    void restartService();
    /// How many listeners are registered.
    std::size_t listenerCount() const { return listeners_.size(); }

    // Faults.

    /// The next call of this kind returns `status` and does nothing else. Several queue up.
    void failNext(CoreAudioCall call, OSStatus status);
    /// Runs `action` right after the next call of this kind has finished (e.g. to change the
    /// process list between its size query and its read). Several queue up.
    void afterNext(CoreAudioCall call, std::function<void()> action);
    /// The next creation of this kind answers status 0 but hands back object id 0, creating nothing.
    void createNothingNext(CoreAudioCall call);
    /// The next call of this kind reports `byteCount` as the size it found or wrote, whatever it did.
    void misreportNextSize(CoreAudioCall call, std::uint32_t byteCount);
    /// Every read of this property of this object answers `status`; kAudioHardwareNoError ends it.
    void failProperty(AudioObjectID object, AudioObjectPropertySelector selector, OSStatus status);
    /// Every read of this object-valued property answers status 0 with `value` instead of the
    /// truth; no value means an empty slot. Applies while the object exists.
    void overrideObject(AudioObjectID object, AudioObjectPropertySelector selector,
                        std::optional<CFValue> value);
    /// Changes the description a tap reports from now on (not what it does).
    void alterTapDescription(AudioObjectID tap, const std::function<void(CATapDescription&)>& change);

    // Inspection.

    /// Every call answered so far, in order. Throws std::logic_error unless the log is kept, so
    /// that a test cannot read an empty log as "no call was made".
    const std::vector<CoreAudioCallRecord>& calls() const;
    /// The calls of one kind, in order.
    std::vector<CoreAudioCallRecord> calls(CoreAudioCall call) const;
    /// Forgets the call log.
    void clearCalls() { calls_.clear(); }

private:
    struct Process {
        std::string bundleID;
        std::int32_t pid = 0;
        bool playing = false;
    };
    struct Tap {
        CATapDescription description;
        std::string uid;
    };
    struct Aggregate {
        CFDictionary composition;
        std::vector<std::string> tapUIDs;
        std::vector<std::string> subDeviceUIDs;
        std::vector<AudioObjectID> inputStreams;
        std::vector<AudioObjectID> outputStreams;
        bool running = false;
    };
    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        RunLoop* queue;
        AudioObjectPropertyListenerBlock block;
    };
    using PropertyKey = std::pair<AudioObjectID, AudioObjectPropertySelector>;
    using PropertyValue = std::variant<std::optional<CFValue>, std::uint32_t, std::vector<AudioObjectID>>;

    // Runs one port call: injected failure or `body`, then the log, size misreport and hooks.
    OSStatus perform(CoreAudioCall call, AudioObjectID object, AudioObjectPropertySelector selector,
                     const std::function<OSStatus()>& body, std::uint32_t* reportedSize = nullptr,
                     AudioObjectID* createdObject = nullptr);
    template <typename Value>
    OSStatus readAs(AudioObjectID object, const AudioObjectPropertyAddress& address, Value& out) const;
    OSStatus read(AudioObjectID object, const AudioObjectPropertyAddress& address,
                  PropertyValue& value) const;
    OSStatus readAggregate(const Aggregate& aggregate, const AudioObjectPropertyAddress& address,
                           PropertyValue& value) const;
    bool exists(AudioObjectID object) const;
    AudioObjectID allocateID();
    void claimID(AudioObjectID id);
    OSStatus createAggregate(const CFDictionary& description, AudioObjectID& outDeviceID);
    void destroyAggregate(AudioObjectID device);
    void notify(AudioObjectID object, AudioObjectPropertySelector selector);
    Aggregate& aggregate(AudioObjectID device);
    Process& process(AudioObjectID id);

    AudioObjectID nextID_ = kAudioObjectSystemObject + 1;
    std::map<AudioObjectID, Process> processes_;
    std::vector<AudioObjectID> processList_;
    std::map<AudioObjectID, Tap> taps_;
    std::map<AudioObjectID, Aggregate> aggregates_;
    std::map<AudioObjectID, AudioObjectID> streams_;  // stream -> its device
    std::vector<Listener> listeners_;

    std::map<CoreAudioCall, std::deque<OSStatus>> failures_;
    std::map<CoreAudioCall, std::deque<std::function<void()>>> afterActions_;
    std::map<CoreAudioCall, std::deque<std::uint32_t>> misreportedSizes_;
    std::map<CoreAudioCall, int> emptyCreations_;
    std::map<PropertyKey, OSStatus> propertyFailures_;
    std::map<PropertyKey, std::optional<CFValue>> objectOverrides_;
    const bool keepsCalls_;
    std::vector<CoreAudioCallRecord> calls_;
};

}  // namespace tessaly
