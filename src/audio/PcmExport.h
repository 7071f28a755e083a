// mirdex --export-wav for files whose audio is PCM, run in the program itself:
// copying PCM needs neither the decoders nor the window library, and loading
// them would cost more than a short export takes.
#pragma once
#include <cstdio>
#include <functional>

#include "audio/ExportWav.h"

// 0 when the WAVE file is written. -1 when the files are not for this path
// (compressed audio) or any step fails: nothing is reported then, and the
// caller runs ExportWav, which reports the failure in its own words.
int ExportPcmWav(const ExportWavRequest& request, FILE* err,
                 const std::function<bool(OpenAviTable&)>& prepare = nullptr);
