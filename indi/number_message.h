// A client's new values for a number vector, checked before anything
// changes. INDI's range checks compare, and every comparison with NaN is
// false: "nan" passes them, and becomes whatever the property's consumer
// makes of it (a ramp that never ends, a frame cast to an integer). Every
// number message for this device passes these checks first; what they
// refuse is shown as the client gave it.
#pragma once

#include <string>

namespace tarnscsi::indi {

// The value as the client gave it: the shortest decimal that reads back as
// the same number ("-100.01", "nan"), never rounded to a display precision.
std::string NumberAsGiven(double value);

// "" when each of the n values is a finite number and, with `whole`, a whole
// number an int holds (pixels, binning factors); else what is wrong, naming
// the element.
std::string NumberMessageProblem(const double values[], char* const names[], int n, bool whole);

// "" when `value` lies from `min` to `max`; else why not, naming `element`
// and showing the value as given.
std::string NumberRangeProblem(const char* element, double value, double min, double max);

}  // namespace tarnscsi::indi
