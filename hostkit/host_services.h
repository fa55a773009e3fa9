// The host services a filter module receives at load (addFilter,
// removeFilter, InitVTables, ...), and the list of registered filters.
//
// addFilter copies the definition into a record of our own and keeps it in
// a registry until removeFilter; the registry is process-wide and not
// locked: modules register from the thread that loads them.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "host/filter_interface.h"

const FilterFunctions& HostFilterFunctions();

// Definitions registered through addFilter and not yet removed, oldest first.
std::vector<FilterDefinition*> RegisteredFilters();
FilterDefinition* FindRegisteredFilter(const std::string& name);

// While set, addFilter refuses every registration (returns null), as a host
// that cannot take the filter would. For tests of a module's entry point.
void RefuseFilterRegistration(bool refuse);

// What the Except service throws: the message the module formatted.
class HostException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The host's CPU feature flags as getCPUFlags reports them.
constexpr long kCpuFlagCpuid = 0x0001;
constexpr long kCpuFlagFpu = 0x0002;
constexpr long kCpuFlagMmx = 0x0004;
constexpr long kCpuFlagIntegerSse = 0x0008;
constexpr long kCpuFlagSse = 0x0010;
constexpr long kCpuFlagSse2 = 0x0020;

// getHostVersionInfo writes this text and returns kHostVersionNumber.
constexpr const char* kHostVersionText = "Quillmere host kit 0.1";
constexpr long kHostVersionNumber = 1;
