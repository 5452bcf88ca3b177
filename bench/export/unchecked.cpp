// export-unchecked: the incremental export of the library with the document
// checks off, so bench-export can tell the export's own cost from theirs.
// Reads and stores the stamp in SETTINGS like the program does.
//
//   export-unchecked DATABASE FOLDER SETTINGS BOXES   (BOXES: SSS or S--)
#include "export/core/job.h"
#include "export/runs.h"
#include "export/core/summary.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: export-unchecked DATABASE FOLDER SETTINGS BOXES\n");
        return 2;
    }
    const std::string boxes = argv[4];
    if (boxes.size() != 3) {
        std::fprintf(stderr, "BOXES is three S or - (Emitidas, de veículos, Recebidas)\n");
        return 2;
    }
    exports::IncrementalJob job;
    job.database = argv[1];
    job.outputFolder = argv[2];
    job.settingsFile = argv[3];
    job.kinds.issued = boxes[0] == 'S';
    job.kinds.vehicles = boxes[1] == 'S';
    job.kinds.received = boxes[2] == 'S';
    job.checkDocuments = false;
    exports::Observer quiet;
    const exports::RunSummary s = exports::runIncremental(job, quiet);
    std::printf("%s\n", exports::summaryLine(s).c_str());
    return exports::exitStatus(s);
}
