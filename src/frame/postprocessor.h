// Commands started after a successful metadata run (--exec, --exec-nowait).
#pragma once

#include <string>

#include "platform/types.h"

struct CommandLine;
struct NodeTree;

// Builds one post-processor from the expanded command and the following
// command-line elements up to an element that is exactly ";", and appends it
// to *list (created when null) with the wait flag as node id and the whole
// wide command line (with its NUL) as data. kErrInvalidValue when no ";"
// follows (nothing stored), kErrNoMemory, or the code of ExpandPath.
ResultCode ParsePostprocessor(const wchar_t* command, int wait, CommandLine* commandLine,
                              NodeTree** list);

// Appends one element: a blank before it unless the line is empty, quotes
// around an element containing a blank or tab, a trailing backslash doubled.
void AppendArgument(std::wstring* commandLine, const wchar_t* element);

// Starts the command line (in workDir when given), waiting for it when wait
// is set. 0, kErrNothingGiven when waiting failed, or the mapped error
// (fallback kErrFailed) when it cannot start. The exit code is not looked at.
ResultCode RunPostprocessor(const wchar_t* commandLine, const wchar_t* workDir, int wait);

// Runs every post-processor of the list in order: "Executing: %s" first at
// verbosity 1 or more; the first failure prints "Postprocessor execution
// failed. EC:%ld", skips the rest and is returned. A null list is 0.
ResultCode RunPostprocessorList(const NodeTree* list);
