#include "SetupDocumentView.h"

namespace tessaly {

SetupDocumentView::SetupDocumentView(QWidget* parent) : QWidget(parent) {}

}  // namespace tessaly
