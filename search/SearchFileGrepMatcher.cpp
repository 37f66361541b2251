#include "search/SearchFileGrep.h"

// Kept apart from the searcher's code so that programs which bring their own matcher do not
// need the matcher library.
namespace lk {

SearchFileGrep::SearchFileGrep(FileSystem& files) : SearchFileGrep(files, MakeRefine()) {}

}  // namespace lk
