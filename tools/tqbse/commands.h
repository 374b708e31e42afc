// The tool's commands besides a single call.
#pragma once

#include "invocation.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tqbse::cli {

// Connects: kExitOk, or kExitUnreachable or kExitTimedOut with the reason
// on standard error.
int connectOrExplain(const Options& options);

// One call by name with its typed arguments. `connect` connects first (and
// shuts down after) when the call needs the server.
int runCallCommand(FILE* out, const Command& command, bool connect);

// `describe CALL`: the export's texts, signature, codes and an example;
// kExitUsage for an unknown call.
int runDescribe(FILE* out, const std::string& name, const Options& options);

// Diagnostics report. `ownConnection`: connect first, shut down after.
int runInfo(FILE* out, const Options& options, bool ownConnection);

// --version: the tool's version and build, the library's version and the
// file it was loaded from.
void printVersion(FILE* out);

// `events [--count N] [--timeout S]`: the server's events through a session
// of its own, one per line, until Ctrl-C, N events or S seconds.
int runEvents(FILE* out, const Options& options, const std::vector<std::string>& args);
// Its options, as tqbse --help shows them.
void printEventsOptions(FILE* out);

// Interactive prompt keeping one connection.
int runShell(FILE* out, const Options& options);
// The shell's commands, one per line, as its help (and tqbse --help) shows them.
void printShellHelp(FILE* out);

// Splits a shell line into words: blanks separate, "..." and '...' quote,
// a backslash escapes the next character. False on an unterminated quote.
bool splitLine(const std::string& line, std::vector<std::string>* words);

} // namespace tqbse::cli
