#include "export/destinations.h"

#include "export/organize.h"
#include "export/rules.h"
#include "export/summary.h"
#include "export/writer.h"

#include <sys/stat.h>

namespace exports {

RunFolders::RunFolders(bool cleanTemporaries) : clean_(cleanTemporaries) {}

RunFolders::~RunFolders() = default;

FolderWriter& RunFolders::at(const std::string& folder, bool mayBeLink) {
    if (auto it = open_.find(folder); it != open_.end()) return *it->second;
    if (open_.size() >= 64) open_.clear();
    FolderWriter& writer = *open_.emplace(folder, std::make_unique<FolderWriter>(folder, mayBeLink)).first->second;
    if (clean_ && cleaned_.insert(folder).second) removeLeftoverTemporaries(folder);
    return writer;
}

FolderDestination::FolderDestination(std::string outputFolder, bool cleanTemporaries,
                                     std::vector<std::string> preparedFolders)
    : base_(std::move(outputFolder)), clean_(cleanTemporaries), prepared_(std::move(preparedFolders)),
      folders_(cleanTemporaries) {}

FolderDestination::~FolderDestination() = default;

void FolderDestination::prepare() {
    if (clean_) {
        removeLeftoverTemporaries(base_);
        folders_.cleaned(base_);
    }
    // One level each, opened here and kept: a link put in their place later
    // leads nowhere, and a link already there fails the run before anything
    // is written.
    for (const std::string& relative : prepared_) {
        const std::string path = base_ + relative;
        ::mkdir(path.c_str(), 0777);
        folders_.at(path, false);
        made_.emplace(relative, path);
    }
}

FolderWriter& FolderDestination::folderAt(const std::string& relativeFolder) {
    if (relativeFolder.empty()) return folders_.at(base_, true);
    auto it = made_.find(relativeFolder);
    if (it == made_.end())
        it = made_.emplace(relativeFolder, makeFoldersInside(base_, folderComponents(relativeFolder))).first;
    return folders_.at(it->second, false);
}

PutResult FolderDestination::put(const OutgoingDocument& doc) {
    if (!folderAt(doc.folder).put(doc.fileName, doc.text)) return PutResult::Unchanged;
    lastWritten_ = base_ + doc.folder;
    return PutResult::Written;
}

void FolderDestination::finish(RunSummary&) {
    if (!lastWritten_.empty()) syncFileSystem(lastWritten_);
}

PackageDestination::PackageDestination(std::string folder, std::string yearMonth)
    : folder_(std::move(folder)), yearMonth_(std::move(yearMonth)) {}

PackageDestination::~PackageDestination() = default;

void PackageDestination::prepare() {
    removeLeftoverPackages(folder_, yearMonth_);
    writer_ = std::make_unique<PackageWriter>(folder_, yearMonth_);
}

PutResult PackageDestination::put(const OutgoingDocument& doc) {
    writer_->add({doc.key, doc.documentType, doc.issueDate, doc.cancellation, doc.text});
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
