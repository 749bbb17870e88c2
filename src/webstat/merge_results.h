// --merge: adds several web statistics result files into one result.
#pragma once

#include <string>
#include <vector>

#include "common/output_settings.h"
#include "platform/types.h"

// Reads the named result files in order (standard input when there are none
// or the first is empty), adds every counter under its key and writes one
// summary to outputName (null: standard output) in the settings' units, top
// and quantum. kOk; kErrInvalidArgument without settings; kErrOpenFailed for
// an input that cannot be opened or read (the run stops there);
// kErrCannotCreate when the output cannot be created. A named output is
// deleted after any failure.
ResultCode MergeResults(const std::vector<std::wstring>& names, const OutputSettings* settings,
                        const wchar_t* outputName);
