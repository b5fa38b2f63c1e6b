// The request sequence a CAD host sends around a drawing, for tests.
#pragma once

#include <functional>
#include <string>

#include "test_host.h"
#include "varnu/config_record.h"

namespace varnu::testing {

struct SessionOptions {
    std::function<void(ConfigRecord&)> configure;  // changes to the stored defaults
    double extentX = 40.0;                         // plot request 47, inches
    double extentY = 30.0;
    double hostResolution = 1016.0;  // plot request 48 +41/+49
};

// Stores the defaults (as changed) with the host, then sends 49, 50, 29, 47
// and 48. Expects each to pass.
void OpenPlotSession(const SessionOptions& options = {});

// Plot request 30; returns its result word.
std::int16_t StartJob();
// Plot request 2.
void EndJob();

// What waits in the CommandBuffer right now.
std::string Waiting();

}  // namespace varnu::testing
