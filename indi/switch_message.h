// A client's new states for a switch vector, checked whole before anything
// changes. INDI's own update resets a one-of-many vector before it finds an
// unknown element, and takes two elements On in the order given; a driver
// that applies such a message ends with no switch on, or does what the last
// element says. Every switch the driver handles passes this one check
// first: a message that fails it changes nothing.
#pragma once

#include <string>
#include <vector>

#include <indiapi.h>

namespace tarnscsi::indi {

struct SwitchElement {
    std::string name;
    bool on = false;
};

// "" when the message may be applied to a vector of `elements` under `rule`:
// each name is an element, named once, and the vector keeps its rule once
// the message is applied (one of many: the message turns exactly one
// element on, the others off; at most one: no more than one on). Else what
// is wrong, naming the element.
std::string SwitchMessageProblem(const std::vector<SwitchElement>& elements, ISRule rule, const ISState* states,
                                 char* const names[], int n);

}  // namespace tarnscsi::indi
