#include "service/PreviewHold.h"

#include <algorithm>

namespace tessaly {

namespace {

const char* const hiddenControlsReason = "A preview has not shown its controls yet.";

}  // namespace

Json::Value PreviewHoldStatus::toJson() const {
    return Json::Value{{"reason", reason}, {"seconds", seconds}};
}

PreviewHoldStatus PreviewHoldStatus::fromJson(const Json::ObjectReader& reader) {
    return PreviewHoldStatus{reader.text("reason"), reader.number("seconds")};
}

void PreviewHold::begin(double now, std::string reason) {
    // The first announcement of a series holds until a pass has caught up with all of them.
    if (announcedSince_ && holds(*announcedSince_, now)) return;
    announcedSince_ = now;
    announcedReason_ = std::move(reason);
}

void PreviewHold::passSucceeded(double now, const std::vector<PreviewContainer>& waiting) {
    announcedSince_.reset();
    std::vector<Waiting> still;
    for (const PreviewContainer& container : waiting) {
        auto known = std::find_if(waiting_.begin(), waiting_.end(),
                                  [&](const Waiting& entry) { return entry.container == container; });
        still.push_back({container, known != waiting_.end() ? known->since : now});
    }
    waiting_ = std::move(still);
}

void PreviewHold::clear() {
    announcedSince_.reset();
    waiting_.clear();
}

bool PreviewHold::active(double now) const {
    return status(now).has_value();
}

std::optional<PreviewHoldStatus> PreviewHold::status(double now) const {
    std::optional<PreviewHoldStatus> oldest;
    auto consider = [&](double since, const std::string& reason) {
        if (!holds(since, now)) return;
        if (!oldest || now - since > oldest->seconds) oldest = PreviewHoldStatus{reason, now - since};
    };
    if (announcedSince_) consider(*announcedSince_, announcedReason_);
    for (const Waiting& entry : waiting_) consider(entry.since, hiddenControlsReason);
    return oldest;
}

std::size_t PreviewHold::expiredCount(double now) const {
    return static_cast<std::size_t>(std::count_if(
        waiting_.begin(), waiting_.end(), [&](const Waiting& entry) { return !holds(entry.since, now); }));
}

}  // namespace tessaly
