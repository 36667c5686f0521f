// Process-level start-up services: waiting for the program an update
// replaced, DPI awareness, the single-instance mutex and the package check.
#pragma once

#include <windows.h>

#include <string>

#include "app/options.h"

namespace vorlix {

// Takes every `--after-update` and its value out of the list and, when the
// last one named a process, waits up to 30 s for that process to end.
AfterUpdateArgs wait_for_old_process(ArgList args);

// Declares the process per-monitor DPI aware (version 2); false when the
// system refused or is too old.
bool declare_dpi_awareness();

// The single-instance mutex of one data folder. A mutex that exists but
// may not be opened (made by an elevated copy) also means AlreadyRunning.
enum class InstanceClaim { Claimed, AlreadyRunning, Unavailable };
struct InstanceMutex {
    InstanceClaim claim = InstanceClaim::Unavailable;
    HANDLE handle = nullptr;  // held until the process ends
};
InstanceMutex claim_instance(const std::string& mutex_name);

// True when the program runs from an app package.
bool runs_from_package();

}  // namespace vorlix
