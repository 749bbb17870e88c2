// Start-up, the dispatch to one mode and the shut-down of a run.
#pragma once

#include "frame/command_line.h"
#include "app/options.h"
#include "platform/types.h"

// Runs the program over the command line: options, one mode, shut-down.
// Returns the process exit code (0 when the run ended with result 0, else 1).
int RunProgram(CommandLine* commandLine);

// Runs the mode the options chose; prints the mode's failure messages.
ResultCode DispatchMode(JobContext* context);

// The version banner (message 1) and the help text, to standard output.
void PrintBanner();
void PrintHelp();
