// The Video menu's check of the files a reference AVI names.
#pragma once

class MainWindow;

void RegisterReferenceCheckCommand(MainWindow* window);
void UnregisterReferenceCheckCommand();
