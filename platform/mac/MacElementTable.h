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
///
/// The table does not grow with every element ever read. Each time it has made `sweepFrom` elements
/// since it was last swept, it gives up those that were neither handed out nor used since that sweep
/// and are not pinned (observed): the elements of closed windows and application objects made for
/// one scan. An element still on screen is read again by every pass, and one the core keeps without
/// reading it again is observed, so neither is given up; the table holds what is in use and at most
/// twice `sweepFrom` more.
class MacElementTable : public CFElementTable {
public:
    explicit MacElementTable(std::size_t sweepFrom = 4096) : sweepFrom_(sweepFrom), sweepAt_(sweepFrom) {}

    /// A reference of the caller's own to the element's object; none for an identity never handed out.
    CFReference object(const AXUIElement& element) override;
    /// The identity of an element object (a new one the first time), or none for another type.
    std::optional<AXUIElement> element(CFTypeRef object) override;
    /// A new identity for `object` alone, never given to an equal object: what is set on this object
    /// (a messaging timeout) stays with it. None for another type.
    std::optional<AXUIElement> own(CFTypeRef object);
    /// The element's object, lent; null for an identity never handed out or given up.
    AXUIElementRef find(const AXUIElement& element);
    /// Gives up the element (the system said it is gone); its identity then stays unknown.
    void forget(const AXUIElement& element);
    /// Keeps the element through sweeps until as many unpin calls (an observer registration).
    void pin(const AXUIElement& element);
    void unpin(const AXUIElement& element);
    /// How many elements are held.
    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        CFReference object;
        bool folded;  // found by equal objects
        std::uint64_t lastUse;
        std::size_t pins = 0;
    };

    AXUIElement add(CFTypeRef object, bool folded);
    void erase(std::map<std::uint64_t, Entry>::iterator entry);
    void sweepIfDue();

    std::map<std::uint64_t, Entry> entries_;
    std::unordered_multimap<CFHashCode, std::uint64_t> byHash_;
    std::uint64_t nextIdentity_ = 1;
    const std::size_t sweepFrom_;
    std::size_t sweepAt_;
    std::uint64_t generation_ = 0;
};

}  // namespace tessaly
