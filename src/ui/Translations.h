// Qt's own Japanese texts (dialog buttons, file-dialog labels) for both programs.
#pragma once

class QCoreApplication;
class QTranslator;

// Installs "qtbase_ja" from Qt's translation folder; the translator belongs
// to `app`. Null when the translation is missing.
QTranslator* InstallQtTranslations(QCoreApplication* app);
