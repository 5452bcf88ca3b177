#include "export/destinations.h"

#include "export/summary.h"
#include "export/writer.h"

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

PackageDestination::PackageDestination(std::string folder, std::string yearMonth)
    : folder_(std::move(folder)), yearMonth_(std::move(yearMonth)) {}

PackageDestination::~PackageDestination() = default;

void PackageDestination::prepare() {
    removeLeftoverPackages(folder_, yearMonth_);
    writer_ = std::make_unique<PackageWriter>(folder_, yearMonth_);
}

PutResult PackageDestination::put(const OutgoingDocument& doc) {
    // One document kept and refilled: its buffers are reused, not allocated per document.
    member_.accessKey = doc.key;
    member_.documentType = doc.documentType;
    member_.issueDate = doc.issueDate;
    member_.cancellation = doc.cancellation;
    member_.text = doc.text;
    writer_->add(member_);
    return PutResult::Written;
}

void PackageDestination::finish(RunSummary& s) {
    const PackageResult result = writer_->commit();
    // A second document of the same name replaced the first: members count.
    s.written = result.documents;
    s.checks = result.checks;
    s.package = result.path;
    s.gapRanges = result.gapRanges;
    s.missingNumbers = result.missingNumbers;
}

// The writer's temporary archive goes with it.
void PackageDestination::abandon() noexcept { writer_.reset(); }

}  // namespace exports
