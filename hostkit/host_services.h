// The host services a filter module receives at load (addFilter,
// removeFilter, InitVTables, ...), and the list of registered filters.
#pragma once

#include <string>
#include <vector>

#include "host/filter_interface.h"

const FilterFunctions& HostFilterFunctions();

// Definitions registered through addFilter and not yet removed, oldest first.
std::vector<FilterDefinition*> RegisteredFilters();
FilterDefinition* FindRegisteredFilter(const std::string& name);
