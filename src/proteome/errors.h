// How talvo-proteome fails: every fault is a talvo::Error, thrown where it is
// found and turned into a message and an exit status by ProteomeMain.
#pragma once
#include <string>

#include "talvo/talvo.h"

namespace talvo::proteome {

// A command line that cannot run: the message is followed by a pointer to
// --help.
class UsageError : public talvo::Error {
 public:
  using talvo::Error::Error;
};

// The reader of an output went away (EPIPE): the run ends quietly.
class BrokenPipe : public talvo::Error {
 public:
  BrokenPipe() : talvo::Error("the reader of an output went away") {}
};

// Exit status after BrokenPipe: 128 + SIGPIPE, as if the signal had ended
// the process.
constexpr int kPipeStatus = 141;

// Throws for a write to `name` that failed with errno: BrokenPipe for EPIPE,
// else "error writing NAME: why".
[[noreturn]] void ThrowWriteError(const std::string& name);

// "WHAT: why" from errno.
[[noreturn]] void ThrowSystemError(const std::string& what);

}  // namespace talvo::proteome
