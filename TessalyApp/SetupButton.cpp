#include "SetupButton.h"

namespace tessaly {
namespace {

constexpr int extraPadding = 8;  // on each side

}  // namespace

SetupButton::SetupButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {}

QSize SetupButton::sizeHint() const {
    return QPushButton::sizeHint() + QSize(2 * extraPadding, 0);
}

QSize SetupButton::minimumSizeHint() const {
    return sizeHint();
}

}  // namespace tessaly
