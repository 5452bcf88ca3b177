#pragma once
// The destinations a run writes to: the output folder (flat or organised,
// the period's Entrada and Saida) and the month's package.

#include "export/destination.h"
#include "export/package.h"

#include <memory>
#include <string>
#include <vector>

namespace exports {

class FolderTree;
class FolderWriter;

// Every document as a file under the output folder, in its relative folder
// ("" or "a/b/"). The output folder itself may be a link; every folder below
// it is made here and must be a real folder.
class FolderDestination final : public Destination {
public:
    // `outputFolder`: a file-system path ending in '/'. `cleanTemporaries`:
    // the run holds the export lock. `preparedFolders`: relative folders made
    // and opened before the first document (the period's "Entrada/", "Saida/").
    FolderDestination(std::string outputFolder, bool cleanTemporaries,
                      std::vector<std::string> preparedFolders = {});
    ~FolderDestination() override;

    void prepare() override;
    PutResult put(const OutgoingDocument& doc) override;
    // The files reach the disk before a stamp says they exist.
    void finish(RunSummary& summary) override;

private:
    // The one place a relative folder becomes an open folder.
    FolderWriter& folderAt(const std::string& relativeFolder);

    std::string base_;
    bool clean_;
    std::vector<std::string> prepared_;
    std::unique_ptr<FolderTree> folders_;
    bool written_ = false;
};

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

}  // namespace exports
