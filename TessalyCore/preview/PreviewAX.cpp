#include "preview/PreviewAX.h"

#include <cmath>

#include "foundation/PreviewAccessibilityError.h"
#include "foundation/TessalyError.h"

namespace tessaly {

std::optional<CFValue> PreviewAX::value(const CFValue& element, const std::string& attribute) const {
    const AXUIElement* handle = element.element();
    if (!handle) throw TessalyError("macOS returned an invalid Accessibility element.");
    std::optional<CFValue> result;
    const AXError status = accessibility_.copyAttributeValue(*handle, attribute, result);
    if (status == kAXErrorNoValue || status == kAXErrorAttributeUnsupported) return std::nullopt;
    if (status != kAXErrorSuccess) throw PreviewAccessibilityError("Reading " + attribute, status);
    return result;
}

std::optional<std::string> PreviewAX::string(const CFValue& element, const std::string& attribute) const {
    auto result = value(element, attribute);
    if (!result) return std::nullopt;
    const std::string* text = result->text();
    if (!text) throw TessalyError("macOS returned a non-text value for " + attribute + ".");
    return *text;
}

std::optional<double> PreviewAX::number(const CFValue& element, const std::string& attribute) const {
    auto result = value(element, attribute);
    if (!result) return std::nullopt;
    const double* number = result->number();
    if (!number || !std::isfinite(*number)) {
        throw TessalyError("macOS returned a non-numeric value for " + attribute + ".");
    }
    return *number;
}

std::vector<AXUIElement> PreviewAX::elements(const CFValue& element, const std::string& attribute) const {
    auto result = value(element, attribute);
    if (!result) return {};
    const CFArray* array = result->array();
    if (!array) throw TessalyError("macOS returned invalid children for " + attribute + ".");
    std::vector<AXUIElement> members;
    members.reserve(array->size());
    for (const CFValue& member : *array) {
        const AXUIElement* handle = member.element();
        if (!handle) throw TessalyError("macOS returned invalid children for " + attribute + ".");
        members.push_back(*handle);
    }
    return members;
}

void PreviewAX::setVolume(const AXUIElement& element, double volume) const {
    if (!std::isfinite(volume) || volume < 0 || volume > 1) {
        throw TessalyError("Quick Look volume must be a finite number from zero to one.");
    }
    const AXError status = accessibility_.setAttributeValue(element, "AXValue", CFValue(volume));
    if (status != kAXErrorSuccess)
        throw PreviewAccessibilityError("Setting the native preview volume", status);
}

AXUIElement PreviewAX::applicationForScanning(ProcessID pid) const {
    AXUIElement application = accessibility_.createApplication(pid);
    const AXError status = accessibility_.setMessagingTimeout(application, scanningTimeout);
    if (status != kAXErrorSuccess)
        throw PreviewAccessibilityError("Setting the Accessibility timeout", status);
    return application;
}

}  // namespace tessaly
