#pragma once
// The Sleuth Kit traits of the one handle owner (base/UniqueHandle.h): the image, its volume
// system, a file system, a directory and a file each have their own close call, and an owner
// closes its object exactly once (on Reset, on assignment, on destruction). An empty owner (null)
// closes nothing.
//
// Every Sleuth Kit call goes through such an owner, never through a raw pointer kept by hand:
// an early return on one of the many error paths of a damaged image then leaks nothing.

#include <tsk/libtsk.h>

#include <string>

#include "base/UniqueHandle.h"

namespace lk {

using TskImageTraits = NullHandleTraits<TSK_IMG_INFO*, &tsk_img_close>;
using TskVolumeSystemTraits = NullHandleTraits<TSK_VS_INFO*, &tsk_vs_close>;
using TskFileSystemTraits = NullHandleTraits<TSK_FS_INFO*, &tsk_fs_close>;
using TskDirectoryTraits = NullHandleTraits<TSK_FS_DIR*, &tsk_fs_dir_close>;
using TskFileTraits = NullHandleTraits<TSK_FS_FILE*, &tsk_fs_file_close>;

using UniqueTskImage = UniqueHandle<TskImageTraits>;
using UniqueTskVolumeSystem = UniqueHandle<TskVolumeSystemTraits>;
using UniqueTskFileSystem = UniqueHandle<TskFileSystemTraits>;
using UniqueTskDirectory = UniqueHandle<TskDirectoryTraits>;
using UniqueTskFile = UniqueHandle<TskFileTraits>;

// The Sleuth Kit's message for the last failure of this thread (empty when it has none); the
// error state is cleared, so the next failure is told on its own.
[[nodiscard]] std::string TakeTskError();

}  // namespace lk
