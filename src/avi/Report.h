// `mirdex --report [--json] FILE...`: a headless check of AVI files for
// archives of captures. Files without idx1 are indexed by scanning, without a
// question and without writing anything.
#pragma once
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// `argv` holds the arguments that follow "--report" (argv[0] is the first of
// them). Writes the report to `out`. Returns 0 when every file is clean, 1
// when problems were found, 2 when a file could not be read (or no file was
// given). `prepare`, when set, runs on each file's table after the file opened
// (boxes it shows are problems of the file; false: the file is unreadable).
class OpenAviTable;
using ReportPrepare = std::function<bool(OpenAviTable&)>;
int RunReport(int argc, char** argv, std::FILE* out = stdout, const ReportPrepare& prepare = {});
