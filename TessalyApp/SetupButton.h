#pragma once

#include <QPushButton>

namespace tessaly {

/// A push button of the setup window: the style's button with the roomier side padding of a
/// macOS rounded button, so titles do not touch the bezel.
class SetupButton : public QPushButton {
    Q_OBJECT

public:
    explicit SetupButton(const QString& title, QWidget* parent = nullptr);

    /// The style's size with the extra padding on both sides.
    QSize sizeHint() const override;
    /// As sizeHint(): a layout never squeezes the padding away.
    QSize minimumSizeHint() const override;
};

}  // namespace tessaly
