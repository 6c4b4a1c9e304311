// The component runtime a client or component builds against: Windows COM
// on Windows, the project's runtime (comrt) elsewhere. Both offer the same
// names, signatures and integer widths.
#ifndef TARNHOLM_COM_H
#define TARNHOLM_COM_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// windows.h comes first.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on
#ifndef OLESTR
#define OLESTR(s) L##s
#endif
#else
#include <comrt/comrt.h>
#endif

#endif  // TARNHOLM_COM_H
