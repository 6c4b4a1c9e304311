// The creation functions of Holm's five classes, for the class factories.
#ifndef HOLM_MODULE_HOLM_CLASSES_H
#define HOLM_MODULE_HOLM_CLASSES_H

#include "holm/dialogs/port_setup.h"
#include "holm/progress/progress_factory.h"
#include "holm/srecord/s19_support.h"

#endif  // HOLM_MODULE_HOLM_CLASSES_H
