// The wave-out device on Qt Multimedia's QAudioSink in push mode. Queued
// buffers are fed to the sink as it has room; a buffer is done when the
// sink's played position passes its end.
#pragma once
#include "platform/WaveOut.h"

std::unique_ptr<WaveOut> MakeQtWaveOut();
