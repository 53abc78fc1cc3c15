#pragma once
// How a save treats what its path already holds (store.h's save(), in_place.h's writer).

namespace kiv::store {

enum class SaveMode {
    replace,     // the new content replaces whatever the path holds
    create_new,  // the new content is published only if the path holds nothing yet (else EEXIST),
                 // as far as the system can tell: see publish() and DirectoryLock
                 // (store/lock.h)
};

}  // namespace kiv::store
