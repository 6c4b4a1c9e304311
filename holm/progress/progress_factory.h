// Creation of the Progress object ("Brenlow.PROGRESSER") for the Holm module.
#ifndef HOLM_PROGRESS_PROGRESS_FACTORY_H
#define HOLM_PROGRESS_PROGRESS_FACTORY_H

#include "framework/cmd_target.h"

namespace holm {

// A new Progress object with one reference; its window is created hidden.
// Throws std::bad_alloc when memory runs out.
fw::CCmdTarget* CreateProgress();

}  // namespace holm

#endif  // HOLM_PROGRESS_PROGRESS_FACTORY_H
