#pragma once
// The cell event the date edit hands to its calendar and the calendar calls
// while painting a day, shared by both so no cast stands between them.

#include <QColor>
#include <QFont>
#include <functional>

#include "platform/datetime.h"

class QObject;

// Sender, font to draw with, background colour by reference (0xFF00FF leaves
// it unchanged) and the cell's date.
using TsGetCellParamsEvent =
    std::function<void(QObject* sender, QFont& font, QColor& background, platform::DateTime date)>;
