#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>

#include "mac/CFConversion.h"

namespace tessaly {

/// The identities of Accessibility elements. The core compares elements by identity; the system
/// hands out a new object for the same element on every call, equal by CFEqual. The table keeps one
/// reference per element and gives equal objects the same identity, so the same element always
/// reads as the same AXUIElement. Identities are never reused.
class MacElementTable : public CFElementTable {
public:
    /// A reference of the caller's own to the element's object; none for an identity never handed out.
    CFReference object(const AXUIElement& element) override;
    /// The identity of an element object (a new one the first time), or none for another type.
    std::optional<AXUIElement> element(CFTypeRef object) override;
    /// The element's object, lent; null for an identity never handed out or forgotten.
    AXUIElementRef find(const AXUIElement& element) const;
    /// Gives up the element (the system said it is gone); its identity then stays unknown.
    void forget(const AXUIElement& element);
    /// How many elements are held.
    std::size_t size() const { return objects_.size(); }

private:
    std::map<std::uint64_t, CFReference> objects_;
    std::unordered_multimap<CFHashCode, std::uint64_t> byHash_;
    std::uint64_t nextIdentity_ = 1;
};

}  // namespace tessaly
