#include "export/destinations/folder/folder_destination.h"

#include "export/core/summary.h"
#include "export/destinations/folder/writer.h"

namespace exports {

FolderDestination::FolderDestination(std::string outputFolder, bool cleanTemporaries,
                                     std::vector<std::string> preparedFolders)
    : base_(std::move(outputFolder)), clean_(cleanTemporaries), prepared_(std::move(preparedFolders)) {}

FolderDestination::~FolderDestination() = default;

void FolderDestination::prepare() {
    folders_ = std::make_unique<FolderTree>(base_, clean_);
    if (clean_) {
        removeLeftoverTemporaries(base_);
        folders_->cleaned("");
    }
    // Made and opened here and kept: a link put in their place later leads
    // nowhere, and a link already there fails the run before anything is written.
    for (const std::string& relative : prepared_) folders_->at(relative);
}

FolderWriter& FolderDestination::folderAt(const std::string& relativeFolder) { return folders_->at(relativeFolder); }

PutResult FolderDestination::put(const OutgoingDocument& doc) {
    if (!folderAt(doc.folder).put(doc.fileName, doc.text)) return PutResult::Unchanged;
    written_ = true;
    return PutResult::Written;
}

void FolderDestination::finish(RunSummary&) {
    if (written_) syncFileSystem(base_);
}

}  // namespace exports
