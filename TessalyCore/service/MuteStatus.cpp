#include "service/MuteStatus.h"

namespace tessaly {

Json::Value MuteStatus::toJson() const {
    return Json::Value{
        {"version", version},
        {"pid", pid},
        {"bundleID", bundleID},
        {"tapID", tapID},
        {"tapCount", tapCount},
        {"attachmentCount", attachmentCount},
        {"processIDs", processIDs},
        {"previewPIDs", previewPIDs},
        {"activeProcessCount", activeProcessCount},
        {"muted", muted},
        {"privateTap", privateTap},
        {"restoresProcesses", restoresProcesses},
        {"audioIOStarted", audioIOStarted},
    };
}

MuteStatus MuteStatus::fromJson(const Json::ObjectReader& reader) {
    MuteStatus status;
    status.version = reader.text("version");
    status.pid = reader.integer<std::int32_t>("pid");
    status.bundleID = reader.text("bundleID");
    status.tapID = reader.integer<std::uint32_t>("tapID");
    status.tapCount = reader.integer<std::int64_t>("tapCount");
    status.attachmentCount = reader.integer<std::int64_t>("attachmentCount");
    status.processIDs = reader.integers<std::uint32_t>("processIDs");
    status.previewPIDs = reader.integers<std::int32_t>("previewPIDs");
    status.activeProcessCount = reader.integer<std::int64_t>("activeProcessCount");
    status.muted = reader.boolean("muted");
    status.privateTap = reader.boolean("privateTap");
    status.restoresProcesses = reader.boolean("restoresProcesses");
    status.audioIOStarted = reader.boolean("audioIOStarted");
    return status;
}

}  // namespace tessaly
