#pragma once

#include "CmdLineHelper.h"

// Decides whether a command line can be acted on: options "p", "r", "c" and "o" present, "p"
// a well-formed GUID other than the zero GUID, "r" a supported region. Reports the first
// problem (level 1, "Deployment Packager CmdLine Checker") and answers false; reports
// nothing when the command line is acceptable. Refers to the store, which must outlive it.
class CommandLineChecker {
  public:
    explicit CommandLineChecker(CmdLineHelper& store);
    virtual ~CommandLineChecker();

    // Runs every check again on each call.
    bool Check();

  private:
    CmdLineHelper& store;
};
