// Qt's own Japanese texts (dialog buttons, file-dialog labels) for both programs.
#pragma once

class QCoreApplication;

// Installs "qtbase_ja" from Qt's translation folder; false when it is missing.
bool InstallQtTranslations(QCoreApplication* app);
