#include "mac/MacElementTable.h"

#include <algorithm>

namespace tessaly {

CFReference MacElementTable::object(const AXUIElement& element) {
    return CFReference::retain(find(element));
}

std::optional<AXUIElement> MacElementTable::element(CFTypeRef object) {
    if (object == nullptr || CFGetTypeID(object) != AXUIElementGetTypeID()) return std::nullopt;
    auto [first, last] = byHash_.equal_range(CFHash(object));
    for (auto candidate = first; candidate != last; ++candidate) {
        Entry& entry = entries_.at(candidate->second);
        if (CFEqual(entry.object.get(), object)) {
            entry.lastUse = generation_;
            return AXUIElement(candidate->second);
        }
    }
    return add(object, true);
}

std::optional<AXUIElement> MacElementTable::own(CFTypeRef object) {
    if (object == nullptr || CFGetTypeID(object) != AXUIElementGetTypeID()) return std::nullopt;
    return add(object, false);
}

AXUIElementRef MacElementTable::find(const AXUIElement& element) {
    auto found = entries_.find(element.identity());
    if (found == entries_.end()) return nullptr;
    found->second.lastUse = generation_;
    return found->second.object.as<AXUIElementRef>();
}

void MacElementTable::forget(const AXUIElement& element) {
    if (auto found = entries_.find(element.identity()); found != entries_.end()) erase(found);
}

void MacElementTable::pin(const AXUIElement& element) {
    if (auto found = entries_.find(element.identity()); found != entries_.end()) ++found->second.pins;
}

void MacElementTable::unpin(const AXUIElement& element) {
    if (auto found = entries_.find(element.identity()); found != entries_.end() && found->second.pins > 0)
        --found->second.pins;
}

AXUIElement MacElementTable::add(CFTypeRef object, bool folded) {
    sweepIfDue();
    const std::uint64_t identity = nextIdentity_++;
    entries_.emplace(identity, Entry{CFReference::retain(object), folded, generation_});
    if (folded) byHash_.emplace(CFHash(object), identity);
    return AXUIElement(identity);
}

void MacElementTable::erase(std::map<std::uint64_t, Entry>::iterator entry) {
    if (entry->second.folded) {
        auto [first, last] = byHash_.equal_range(CFHash(entry->second.object.get()));
        auto hashed = std::find_if(first, last,
                                   [&](const auto& candidate) { return candidate.second == entry->first; });
        if (hashed != last) byHash_.erase(hashed);
    }
    entries_.erase(entry);
}

void MacElementTable::sweepIfDue() {
    if (entries_.size() < sweepAt_) return;
    // Given up: what was not used since the last sweep, unless pinned. The next sweep comes once
    // `sweepFrom_` more elements were made, so what is in use, read at least once in that time, stays.
    for (auto entry = entries_.begin(); entry != entries_.end();) {
        const auto current = entry++;
        if (current->second.pins == 0 && current->second.lastUse != generation_) erase(current);
    }
    ++generation_;
    sweepAt_ = entries_.size() + sweepFrom_;
}

}  // namespace tessaly
