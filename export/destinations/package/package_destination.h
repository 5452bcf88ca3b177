#pragma once
// The month's package as a destination: every document a member of one archive.

#include "export/core/destination.h"
#include "export/destinations/package/package.h"

#include <memory>
#include <string>

namespace exports {

// Every document as a member of the month's archive (see export/package.h).
class PackageDestination final : public Destination {
public:
    // `folder`: where the archive goes (file-system path).
    PackageDestination(std::string folder, std::string yearMonth);
    ~PackageDestination() override;

    // Removes what a killed run left and starts the temporary archive.
    void prepare() override;
    PutResult put(const OutgoingDocument& doc) override;
    // Names the archive; the members, checks and gaps go to the summary.
    void finish(RunSummary& summary) override;
    void abandon() noexcept override;

private:
    std::string folder_, yearMonth_;
    std::unique_ptr<PackageWriter> writer_;
    PackageDocument member_;
};

// The month's package is made by this destination (export/adapters.cpp).
void registerPackageDestination();

}  // namespace exports
