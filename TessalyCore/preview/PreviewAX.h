#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "values/CFValue.h"

namespace tessaly {

/// Typed reads and the one write that native preview control makes through the Accessibility
/// API. An attribute the element lacks, or one without a value, is absent; every other failure
/// of the call, and every value of an unexpected type, is an error naming what macOS returned.
class PreviewAX {
public:
    explicit PreviewAX(Accessibility& accessibility) : accessibility_(accessibility) {}

    /// The raw value, or nothing when the attribute is unsupported or has no value.
    std::optional<CFValue> value(const CFValue& element, const std::string& attribute) const;
    /// A text value, or nothing when absent.
    std::optional<std::string> string(const CFValue& element, const std::string& attribute) const;
    /// A finite number, or nothing when absent.
    std::optional<double> number(const CFValue& element, const std::string& attribute) const;
    /// A list of elements; an absent attribute is the empty list.
    std::vector<AXUIElement> elements(const CFValue& element, const std::string& attribute) const;
    /// Sets a volume slider's "AXValue"; a level outside 0 to 1 never reaches the element.
    void setVolume(const AXUIElement& element, double volume) const;

    /// The application element of a process, with the short messaging timeout used for scanning
    /// so that a hung host cannot stall the caller for long.
    AXUIElement applicationForScanning(ProcessID pid) const;

    /// Seconds an application being scanned may take to answer one call.
    static constexpr float scanningTimeout = 0.5f;

private:
    Accessibility& accessibility_;
};

}  // namespace tessaly
