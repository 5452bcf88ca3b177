// Placeholder until the exports land: the buttons do nothing yet.
#include "app/exports.h"

void RunIncrementalExport(TForm1&) {}
void RunPeriodExport(TForm1&) {}
