#!/bin/sh
# Core code keeps its state in objects passed explicitly; what is left at file
# or function scope is on the list below, each with the reason it may stay.
# A data symbol of the core libraries that is not on the list fails the test.
# Usage: CoreGlobals.sh LIBRARY.a...
set -u
[ $# -gt 0 ] || {
  echo "usage: CoreGlobals.sh LIBRARY.a..."
  exit 2
}

# SOURCE-FILE NAME (as nm -C prints it) | reason. Constant tables may be data in
# sanitizer builds (their relocations or redzones), read-only elsewhere.
allowed=$(
  cat <<'EOF'
AppState.cpp ME | the program state record (settings and flags of the whole process)
MirdexSettings.cpp mirdexSettings | the settings record of Mirdex.ini
Settings.cpp kMirdexFixedSections[abi:cxx11] | constant table: sections the start-up tidy keeps
Paths.cpp kMirdexFiles | constant table: Mirdex's settings file, program and home variable names
Paths.cpp kQuendrixFiles | constant table: Quendrix's settings file, program and home variable names
Paths.cpp (anonymous namespace)::gFiles | which program's file names this process uses (set once at start-up)
Paths.cpp (anonymous namespace)::gSettingsDir | the settings folder, found once per program
Paths.cpp (anonymous namespace)::gSettingsDirKnown | whether gSettingsDir has been found
Paths.cpp ExeDir(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >*)::dir | function-local static: the executable's folder, read once from /proc/self/exe
Paths.cpp ExeDir(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >*)::date | function-local static: the build date (the executable's time), read with dir
Paths.cpp ExeDir(std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >*)::known | function-local static: whether dir and date were read
CpuLevel.cpp (anonymous namespace)::Detected()::features | function-local static: the processor's vector features, detected once
CpuLevel.cpp (anonymous namespace)::gCap | the CPU level cap (the UseSSE setting and menu command lower it; so do tests)
Host.cpp (anonymous namespace)::gHost | the one Host the program installs (the window's, or the console's)
Host.cpp (anonymous namespace)::gConsoleHost | the Host used while none is installed (command-line forms)
CodecNames.cpp (anonymous namespace)::kVideoCodecs | constant table: codec names made from FFmpeg's data at build time
Profile.cpp (anonymous namespace)::gCache | the profile engine's cache of INI files (checked against the file's stat)
Profile.cpp (anonymous namespace)::gBatchDepth | the profile engine's nesting of batched writes
System.cpp (anonymous namespace)::gPowerOff | the power-off routine, which tests replace
MirdexSettings.cpp (anonymous namespace)::AddComposit(std::vector<Setting, std::allocator<Setting> >&, MirdexSettings&)::thresholdDefaults | function-local static: constant table of setting defaults (its pointer elements are not declared const)
MirdexSettings.cpp (anonymous namespace)::AddComposit(std::vector<Setting, std::allocator<Setting> >&, MirdexSettings&)::merginDefaults | function-local static: constant table of setting defaults (its pointer elements are not declared const)
Dispatcher.cpp (anonymous namespace)::Singles()::m | function-local static: the dispatcher's handlers of single commands (one dispatcher per process)
Dispatcher.cpp (anonymous namespace)::Ranges()::r | function-local static: the dispatcher's handlers of command ranges
Dispatcher.cpp (anonymous namespace)::BusyStack()::s | function-local static: the dispatcher's busy states of running operations
Dispatcher.cpp (anonymous namespace)::RefreshListener()::f | function-local static: the window's redraw of menus and controls
Dispatcher.cpp (anonymous namespace)::ModalToolCancel()::f | function-local static: the cancel of the open modal selection tool window
Dispatcher.cpp (anonymous namespace)::OpenCountProvider()::f | function-local static: the count of open files, installed by the file commands
Dispatcher.cpp (anonymous namespace)::PendingName()::s | function-local static: the file the next open-record command opens
Dispatcher.cpp (anonymous namespace)::askBeforeAbort | the dispatcher's abort question switch, set by the running operation
Dispatcher.cpp (anonymous namespace)::commandView | the window's view of menus and controls, installed by the window
MenuTable.cpp kMenuDirectory | constant table: the menu directory
MenuTable.cpp (anonymous namespace)::kBarItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kFileItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kDisplayItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kVideoItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kAudioItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kCursorItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kSelectItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kDelSelectItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kDelDeleteItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kContextItems | constant table: menu items
MenuTable.cpp (anonymous namespace)::kAboutItems | constant table: menu items
EOF
)
names=$(echo "$allowed" | sed 's/ | .*//')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for lib in "$@"; do
  nm -C --defined-only "$lib" >"$work/nm" || {
    echo "FAILED: nm cannot read $lib"
    exit 1
  }
  # library(object)<TAB>type<TAB>name of the data symbols (B b D d), without
  # what the sanitizers and the compiler add.
  awk -v lib="$(basename "$lib")" '
    /:$/ { obj = substr($0, 1, length($0) - 1); next }
    NF >= 3 && $2 ~ /^[BbDd]$/ {
      name = $0
      sub(/^[^ ]+ [^ ]+ /, "", name)
      if (name ~ /^(__odr_asan|__asan|__ubsan|\.L)/) next
      if (name ~ /^(guard variable|typeinfo|typeinfo name|vtable|VTT|construction vtable) for /) next
      source = obj
      sub(/\.o$/, "", source)
      print lib "(" obj ")\t" $2 "\t" source " " name
    }' "$work/nm" >"$work/data"
  while IFS="$(printf '\t')" read -r where type key; do
    if ! echo "$names" | grep -qxF -- "$key"; then
      echo "FAILED: $where defines $type ${key#* }, which is not on the list of allowed globals"
      status=1
    fi
  done <"$work/data"
done
[ $status -eq 0 ] && echo "ok"
exit $status
