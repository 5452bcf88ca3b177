#pragma once
// The two exports the window's buttons start. Each runs to its end inside the
// click handler, pumping window messages once per row.

class TForm1;

// "Gerar" and the unattended "/executa" run.
void RunIncrementalExport(TForm1& form);
// "Exportar": the issued documents of one branch and period.
void RunPeriodExport(TForm1& form);
