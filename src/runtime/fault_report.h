// The report of a fault the program cannot go on from (one file per
// platform: fault_report_posix.cpp, fault_report_win32.cpp).
//
// Where the system would end the process without a word, the report
// writes one line to standard error instead: the fault's code, its
// address, and whether the address lies in machine code made from a
// script (or else which module holds it); the process then exits with a
// failure status. Where the system reports such faults itself, nothing is
// installed.
#pragma once

namespace talven::runtime {

// Installs the report for the whole process; call once, at start.
void install_fault_report();

}  // namespace talven::runtime
