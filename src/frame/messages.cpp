// The program's message table.
#include "frame/console.h"

namespace {

struct MessageRow {
  int id;
  const wchar_t* text;
};

const MessageRow kMessages[] = {
    {kMsgBanner, L"%hs log analysis utility\nVersion %hs\nCopyright (C) %hs. All rights reserved."},
    {kMsgTryHelp, L"Try 'varno --help' for more information."},
    {kMsgOnlyOneMode, L"You may not specify more than one option."},
    {kMsgUnrecognizedOption, L"Unrecognized option '%s'."},
    {kMsgRequiresArgument, L"Option '%s' requires an argument."},
    {kMsgNoArgumentAllowed, L"Option '%s' doesn't allow an argument."},
    {kMsgAmbiguousOption, L"Option '%s' is ambiguous."},
    {kMsgSuccess, L"Operation finished successfuly."},
    {kMsgErrorCode, L"An error occured. EC: %ld"},
    {kMsgNoMemory, L"Memory allocation error."},
    {kMsgFileNotFound, L"File not found."},
    {kMsgPathNotFound, L"Path not found."},
    {kMsgErrorOccured, L"An error occured."},
    {kMsgBadName, L"The filename or directory name is incorrect."},
    {kMsgOpenFailed, L"Failed to open file."},
    {kMsgOpenFailedName, L"Failed to open file \"%s\""},
    {kMsgCreateFailed, L"Failed to create file."},
    {kMsgCreateFailedName, L"Failed to create file \"%s\""},
    {kMsgUserAbort, L"User abort."},
    {kMsgInitFailed, L"Failed to initialize application, EC:%ld."},
    {kMsgInvalidDate, L"Invalid date interval \"%s\"."},
    {kMsgInvalidStatType, L"Invalid statistic category \"%s\"."},
    {kMsgInvalidCount, L"Invalid count value \"%s\"."},
    {kMsgExecutionErrors, L"One or more error occured during execution. EC:%ld"},
    {kMsgInvalidPostprocessor, L"Invalid argument to postprocessor."},
    {kMsgPostprocessorFailed, L"Postprocessor execution failed. EC:%ld"},
    {kMsgLogMissing, L" %-11s: log file %s doesn't exist"},
    {kMsgProcessing, L" %-11s: processing %s"},
    {kMsgExecuting, L"Executing: %s"},
    {kMsgAnotherInstance, L"Another instance already running."},
    {kMsgCannotAccessOutdir, L"Cannot access output directory.\nDirectory: %s\nEC: %ld"},
    {kMsgNothingToDo, L"There is nothing to do."},
    {kMsgInvalidCondition, L"Invalid condition\n\t\"%s\"\nEC: %ld"},
    {kMsgOneLogDir, L"Specify only one path to log directory."},
    {kMsgInvalidJobName, L"Invalid job name \"%s\""},
    {kMsgInvalidSortColumn, L"Invalid sort column\n\t\"%s\"\nEC: %ld"},
    {kMsgJobInitFailed, L"Failed to initialize unique job.\n Name: \"%s\"\n EC: %ld"},
    {kMsgSearching, L"searching..."},
    {kMsgProgressText, L"  %s"},
    {kMsgInvalidUnits, L"Invalid units \"%s\"."},
    {kMsgInvalidOutputForm, L"Invalid output form \"%s\"."},
    {kMsgInvalidQuantum, L"Invalid quantum \"%s\"."},
    {kMsgEmailsMatch, L"%lu e-mail(s) match."},
    {kMsgItemsMatch, L"%lu item(s) match."},
    {kMsgInvalidFeedName, L"Invalid feed name \"%s\", EC:%d"},
    {kMsgConnectorInitFailed, L"Failed to initialize database connector interface, EC:%d"},
    {kMsgJobRunning, L"Job \"%s\" alrady running."},
    {0, nullptr},
};

}  // namespace

const wchar_t* GetMessageFormat(int messageId) {
  for (const MessageRow* row = kMessages; row->text != nullptr; ++row) {
    if (row->id == messageId) return row->text;
  }
  return nullptr;
}

int ResultMessageId(ResultCode code) {
  switch (code) {
    case kOk: return kMsgSuccess;
    case kUserAbort: return kMsgUserAbort;
    case kErrNoMemory: return kMsgNoMemory;
    case kErrFileNotFound: return kMsgFileNotFound;
    case kErrPathNotFound: return kMsgPathNotFound;
    case kErrCannotCreate: return kMsgCreateFailed;
    case kErrOpenFailed: return kMsgOpenFailed;
    case kErrFailed: return kMsgErrorOccured;
    case kErrInvalidName: return kMsgBadName;
    default: return kMsgErrorCode;
  }
}
