// Allocations that system libraries keep for the life of the process are not
// our leaks. Linked into every test program, so the list holds however the
// test is started (ctest, by hand, under a debugger).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libdbus\n"
         "leak:libglib\n"
         "leak:libgobject\n"
         "leak:libQt6Gui\n"
         "leak:libQt6Core\n"
         "leak:libQt6Widgets\n"
         "leak:libQt6DBus\n"
         "leak:libxkbcommon\n";
}
