// The process-wide registry of colour filter classes: a "Filter" project object is created as the
// class whose registry name equals the object's name (case-insensitive). The seven built-in colour
// filters are registered on first use. Any thread.
#pragma once

#include "objects/ObjectFilter.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TFilterClass {
    std::string name;    // "BrightContrast"
    std::string caption; // shown by editing front-ends
    std::function<TRef<TObjectFilter>()> create;
};

// A new filter of the class registered under `name`, or none when no class has that name.
TRef<TObjectFilter> CreateFilter(std::string_view name);

// Adds a class; a class registered later under an existing name replaces the earlier one.
void RegisterFilterClass(TFilterClass filterClass);

// The registered classes in registration order.
std::vector<TFilterClass> FilterClasses();

} // namespace kiv
