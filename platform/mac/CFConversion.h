#pragma once
// Crossing between our CFValue and Core Foundation objects, in one place for every Mac adapter.

#include <optional>

#include "mac/CFReference.h"
#include "values/CFValue.h"

namespace tessaly {

/// Accessibility elements are Core Foundation objects whose identity only the Accessibility
/// adapter keeps; it lends the conversion this table. Without one, elements do not cross.
class CFElementTable {
public:
    virtual ~CFElementTable() = default;
    /// A reference of the caller's own to the object that stands for `element`; none when unknown.
    virtual CFReference object(const AXUIElement& element) = 0;
    /// The element an object stands for; none when it is not an element.
    virtual std::optional<AXUIElement> element(CFTypeRef object) = 0;
};

namespace CFConversion {

/// A new object holding `value` (the caller owns it), or none when some part of it cannot be made:
/// text that is not UTF-8, an element without a table or one the table does not know.
CFReference create(const CFValue& value, CFElementTable* elements);

/// What `object` holds, or none when it (or something inside it) has no CFValue counterpart, such
/// as a URL, data, or a dictionary key that is not a string. `object` stays the caller's.
std::optional<CFValue> value(CFTypeRef object, CFElementTable* elements);

}  // namespace CFConversion

}  // namespace tessaly
