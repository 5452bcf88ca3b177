#pragma once
// Where the window shows a run's outcome: in the free corner of the group box
// of the export that ran (two lines in "Exportação pela Alteração", one in
// "Exportar por período"). Wrapped and elided to fit; the whole text is the
// tooltip. Errors show in red. Text is UTF-8.

#include <string>

class QWidget;

namespace app {

enum class StatusPlace { Incremental, Period };
// `window` keeps one status label; `group` is the group box of `place`.
void showStatus(QWidget& window, QWidget* group, StatusPlace place, const std::string& text, bool isError);

}  // namespace app
