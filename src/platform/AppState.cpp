#include "platform/AppState.h"

#include "platform/Host.h"

AppState ME;

bool PumpAndTestAbort() {
  CurrentHost().Pump();
  return ME.fAbort != 0;
}
