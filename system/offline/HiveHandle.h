#pragma once
// The one owner of a hivex handle: it closes the hive exactly once, on destruction or Reset.
//
// hivex reads untrusted data in C; this type only owns the handle. What is done with it (and the
// checking of every result) belongs to Hive.

#include <memory>

#include <hivex.h>

namespace lk {

struct HiveCloser {
  void operator()(hive_h* hive) const noexcept {
    // hivex_close frees the handle whatever it returns; a failure to unmap cannot be acted on.
    static_cast<void>(hivex_close(hive));
  }
};

using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

}  // namespace lk
