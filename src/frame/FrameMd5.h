// mirdex --framemd5: one "N,MD5" line per frame of the frame as ReadFrame
// delivers it (interleaved rows, bottom-up, 3·W bytes each without the
// stride padding; a null frame is black), for comparing decodes.
#pragma once
#include <cstdio>
#include <functional>
#include <string>

class OpenAviTable;

// Writes the lines for `path` to `out`, messages to `err`. 0 every frame
// decoded, 1 some frames failed (their digest is of the black frame), 2 the
// file could not be opened. `prepare`, when set, runs on the table once the
// file is open (a mark file cutting ranges out); false counts as not opened.
int FrameMd5(const std::string& path, FILE* out, FILE* err,
             const std::function<bool(OpenAviTable&)>& prepare = {});
