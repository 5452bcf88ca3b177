#include "export/adapters.h"

#include "export/destinations/folder/folder_destination.h"
#include "export/destinations/object_store/object_store.h"
#include "export/destinations/package/package_destination.h"
#include "export/sources/firebird/firebird_options.h"

#include <mutex>

namespace exports {

void registerBuiltInAdapters() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerFirebirdSource();
        // The order a run writes in: the folder's (or the package's) answers are its counts.
        registerFolderDestination();
        registerPackageDestination();
        registerObjectStoreDestination();
    });
}

}  // namespace exports
