#pragma once

#include <QWidget>

namespace tessaly {

/// The scrolling document of the setup window: the content stack lives in it and is laid out from
/// its top edge downward. Qt's widget coordinates already grow downward, so unlike an AppKit view
/// it needs no flipping; it exists so the scroll area has one plain document to resize.
class SetupDocumentView : public QWidget {
    Q_OBJECT

public:
    /// Only sets up the base widget.
    explicit SetupDocumentView(QWidget* parent = nullptr);
};

}  // namespace tessaly
