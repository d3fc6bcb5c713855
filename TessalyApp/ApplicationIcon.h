#pragma once

#include <QIcon>

namespace tessaly {

/// The application's icon: a rounded tile with a speaker and sound waves, painted in code because
/// the build carries no image resources.
QIcon applicationIcon();

}  // namespace tessaly
