#include "switch_message.h"

#include <algorithm>
#include <set>

namespace tarnscsi::indi {

std::string SwitchMessageProblem(const std::vector<SwitchElement>& elements, ISRule rule, const ISState* states,
                                 char* const names[], int n) {
    if (n < 1) return "the message names no element";
    std::vector<SwitchElement> after = elements;
    // One of many: INDI's own update turns off what the message does not name.
    if (rule == ISR_1OFMANY) {
        for (SwitchElement& element : after) element.on = false;
    }
    std::set<std::string> named;
    for (int i = 0; i < n; ++i) {
        const std::string name = names[i] != nullptr ? names[i] : "";
        const auto found = std::find_if(after.begin(), after.end(),
                                        [&name](const SwitchElement& element) { return element.name == name; });
        if (found == after.end()) return "'" + name + "' is not one of its elements";
        if (!named.insert(name).second) return "'" + name + "' is named twice";
        found->on = states[i] == ISS_ON;
    }
    const auto on = std::count_if(after.begin(), after.end(), [](const SwitchElement& element) { return element.on; });
    if (rule == ISR_1OFMANY && on != 1) {
        return on == 0 ? "one element must be On, and none is" : "only one element may be On";
    }
    if (rule == ISR_ATMOST1 && on > 1) return "only one element may be On";
    return {};
}

}  // namespace tarnscsi::indi
