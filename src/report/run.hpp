// One run of textmend-report: the command line, each file in turn, the
// report on standard output, errors on standard error, and the exit status.
#pragma once

namespace textmend::report {

enum ReportStatus : int {
    REPORT_CLEAN = 0,      // every file is clean
    REPORT_NOT_CLEAN = 1,  // some file needs repair or keeps foreign bytes
    REPORT_TROUBLE = 2,    // a file could not be read, or a wrong command line
};

[[nodiscard]] int run_report(int argc, const char* const* argv);

}  // namespace textmend::report
