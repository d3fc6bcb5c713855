#include "mac/MacElementTable.h"

namespace tessaly {

CFReference MacElementTable::object(const AXUIElement& element) {
    return CFReference::retain(find(element));
}

std::optional<AXUIElement> MacElementTable::element(CFTypeRef object) {
    if (object == nullptr || CFGetTypeID(object) != AXUIElementGetTypeID()) return std::nullopt;
    const CFHashCode hash = CFHash(object);
    auto [first, last] = byHash_.equal_range(hash);
    for (auto entry = first; entry != last; ++entry) {
        if (CFEqual(objects_.at(entry->second).get(), object)) return AXUIElement(entry->second);
    }
    const std::uint64_t identity = nextIdentity_++;
    objects_.emplace(identity, CFReference::retain(object));
    byHash_.emplace(hash, identity);
    return AXUIElement(identity);
}

AXUIElementRef MacElementTable::find(const AXUIElement& element) const {
    auto found = objects_.find(element.identity());
    return found == objects_.end() ? nullptr : found->second.as<AXUIElementRef>();
}

void MacElementTable::forget(const AXUIElement& element) {
    auto found = objects_.find(element.identity());
    if (found == objects_.end()) return;
    auto [first, last] = byHash_.equal_range(CFHash(found->second.get()));
    for (auto entry = first; entry != last; ++entry) {
        if (entry->second == element.identity()) {
            byHash_.erase(entry);
            break;
        }
    }
    objects_.erase(found);
}

}  // namespace tessaly
