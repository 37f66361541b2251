#pragma once
// The hivex traits of the one handle owner (base/UniqueHandle.h): it closes the hive exactly
// once, on destruction, Reset or assignment, and keeps errno, which tells why a hive failed to
// open or load.
//
// hivex reads untrusted data in C; this type only owns the handle. What is done with it (and the
// checking of every result) belongs to Hive.

#include <hivex.h>

#include "base/UniqueHandle.h"

namespace lk {

// hivex_close frees the handle whatever it returns; a failure to unmap cannot be acted on.
struct HiveTraits : NullHandleTraits<hive_h*, &hivex_close> {
  using ErrorKeeper = ErrnoKeeper;
};

using HiveHandle = UniqueHandle<HiveTraits>;

}  // namespace lk
