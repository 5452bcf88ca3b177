#pragma once
// The output folder as a destination: flat or organised, the period's
// Entrada and Saida.

#include "export/core/destination.h"

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
    FolderDestination(std::string outputFolder, bool cleanTemporaries, std::vector<std::string> preparedFolders = {});
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

// Every incremental and period run writes to the output folder (export/adapters.cpp).
void registerFolderDestination();

}  // namespace exports
