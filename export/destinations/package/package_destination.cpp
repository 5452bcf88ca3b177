#include "export/destinations/package/package_destination.h"

#include "export/core/registry.h"
#include "export/core/summary.h"

namespace exports {

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

void registerPackageDestination() {
    DestinationType type;
    type.name = "pacote";
    type.archive = [](const DestinationContext& c) -> std::unique_ptr<Destination> {
        return std::make_unique<PackageDestination>(c.folder, c.yearMonth);
    };
    registerDestination(std::move(type));
}

}  // namespace exports
