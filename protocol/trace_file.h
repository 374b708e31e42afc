// Reading a trace file (docs/TRACE.md) line by line, with the one rule that
// tqbse trace and the emulator's replay share for what is not a whole line:
//
// - a path that is a folder or cannot be read is an error, said in `error`;
// - blank lines are skipped;
// - a last line without its line end that does not read as a trace line was
//   cut off as it was written (a full disk, a program that ended in the
//   middle of a write): it is passed as CutOff, for the caller to warn
//   about and skip;
// - any other line that does not read is passed as Bad: the tool skips it,
//   the replay refuses the trace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/trace_line.h"

namespace tqbse {

enum class TraceLineKind : uint8_t { Line, Bad, CutOff };

// Calls `each(number, kind, line)` for every line that is not blank (line
// numbers from 1; `line` is parsed only for Line); `each` returns false to
// stop reading. True when the file was read to its end or `each` stopped,
// false with `error` set ("cannot read PATH: ...") otherwise.
bool readTraceFile(const std::string& path,
                   const std::function<bool(int64_t number, TraceLineKind kind, const TraceLine& line)>& each,
                   std::string* error);

// The warning for a cut-off last line, the same from every reader:
// "PATH:N: the last line is cut off (the trace's writing stopped there); it
// is skipped".
std::string cutOffLineWarning(const std::string& path, int64_t number);

} // namespace tqbse
