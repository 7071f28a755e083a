// "AVIファイルに保存...": the output name with the options panel and the
// range choice, then the save through the window's operation driver.
#pragma once

class MainWindow;

void RegisterSaveCommands(MainWindow* window);
void UnregisterSaveCommands(MainWindow* window);
// Asks and saves as the menu command does; `forceMixedFields` makes the run
// work on interleaved frames. True when a finished file was written.
bool SaveAviWithDialog(bool forceMixedFields);
