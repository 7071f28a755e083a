// The Qt side of the dialog controls: history combo boxes, numeric and
// hexadecimal filters applied as the user types, bounded spin boxes and the
// placement of a window from its settings.
#pragma once
#include <QString>
#include <string>

#include "platform/DialogText.h"
#include "settings/Settings.h"

class QComboBox;
class QLineEdit;
class QSpinBox;
class QWidget;

// Clears the combo and adds each item of the list not yet in it; selects
// `select` when it is 0 or more.
void FillHistoryCombo(QComboBox* combo, const std::string& list, int select);
// Puts `text` at the top of the combo (an earlier copy removed), selects it and
// makes the list text again from the combo's items. True when it changed.
bool AddHistoryCombo(QComboBox* combo, const QString& text, std::string* list, size_t capacity);

// Filters the field (a line edit, or the edit of an editable combo box) each
// time the user changes it; the caret goes where the last character was
// removed.
void AttachNumericFilter(QLineEdit* edit, int flags);
void AttachNumericFilter(QComboBox* combo, int flags);
void AttachHexFilter(QLineEdit* edit);

// A spin box with its bounds and position (the buddy edit and its arrows).
void SetupSpin(QSpinBox* spin, int maximum, int minimum, int position);

// Places `window` from four descriptors (left, top, width, height), each
// defaulting to the current placement; sizes below 100 become 100 and the
// window is kept on its screen. Without size descriptors only the position
// changes.
void PlaceFromSettings(QWidget* window, const Setting* left, const Setting* top, const Setting* width,
                       const Setting* height);
