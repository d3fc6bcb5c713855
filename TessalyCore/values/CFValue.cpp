#include "values/CFValue.h"

#include "values/CATapDescription.h"

namespace tessaly {

CFValue::CFValue(CATapDescription description)
    : storage_(std::make_shared<const CATapDescription>(std::move(description))) {}

const CFArray* CFValue::array() const {
    auto shared = std::get_if<std::shared_ptr<const CFArray>>(&storage_);
    return shared ? shared->get() : nullptr;
}

const CFDictionary* CFValue::dictionary() const {
    auto shared = std::get_if<std::shared_ptr<const CFDictionary>>(&storage_);
    return shared ? shared->get() : nullptr;
}

const CATapDescription* CFValue::tapDescription() const {
    auto shared = std::get_if<std::shared_ptr<const CATapDescription>>(&storage_);
    return shared ? shared->get() : nullptr;
}

bool operator==(const CFValue& a, const CFValue& b) {
    if (a.storage_.index() != b.storage_.index()) return false;
    if (auto x = a.array()) return *x == *b.array();
    if (auto x = a.dictionary()) return *x == *b.dictionary();
    if (auto x = a.tapDescription()) return *x == *b.tapDescription();
    return a.storage_ == b.storage_;
}

}  // namespace tessaly
