#pragma once
// GDI+ with what its headers expect in scope: objidl.h (left out by WIN32_LEAN_AND_MEAN) and
// unqualified min and max (which NOMINMAX removes). Include this instead of gdiplus.h.

// clang-format off
#include <windows.h>
#include <objidl.h>
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
// clang-format on
