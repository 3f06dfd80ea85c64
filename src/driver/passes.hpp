// Batch passes: each searches the working folder for one pattern and hands every match, in the
// order the search reports them, to its handler, which finishes the file before the next step.
#pragma once

#include <string>

namespace texport {

using MatchHandler = void (*)(const std::string& name);

// Runs `handler` for each match of `pattern`. A handler that fails on one file (for instance
// when memory runs out) is reported and the pass goes on with the next.
void run_batch_pass(const char* pattern, MatchHandler handler);

// Reads a .sfd (`sfd` set) or .tex source and hands it to its converter. A .tex source is read a
// second time, as the reference of the decoder's trace, only in a build with the trace.
void load_pair(const std::string& name, bool sfd);

void scan_sfd();
void scan_tex();

// Read one .m32 or .m8 source and hand it to its converter.
void load_m32(const std::string& name);
void load_m8(const std::string& name);

void scan_m32();
void scan_m8();

}  // namespace texport
