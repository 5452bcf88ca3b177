#include "export/destinations/folder/folder_destination.h"

#include "export/core/registry.h"
#include "export/core/rules.h"
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

void registerFolderDestination() {
    DestinationType type;
    type.name = "pasta";
    type.documents = [](const DestinationContext& c) -> std::unique_ptr<Destination> {
        // Flat, the period's Entrada and Saida are made at the start; organised,
        // inside each document's folder.
        std::vector<std::string> prepared;
        if (c.kind == RunKind::Period && c.pattern.flat())
            for (const char* flag : {"E", "S"}) prepared.push_back(std::string(entryExitFolder(flag)) + "/");
        return std::make_unique<FolderDestination>(c.folder, c.locked, std::move(prepared));
    };
    registerDestination(std::move(type));
}

}  // namespace exports
