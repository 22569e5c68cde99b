// What --json prints, as JSON values with their keys in a fixed order; written by the library,
// never by hand.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "ports/port_details.h"

namespace valdrix::cli {

using Json = nlohmann::ordered_json;

Json ReportJson(const Report& report);
// {"port":...,"error":...,"reason":...}; without "port" when port is null. With read (a step
// after the search failed), the report's keys come first, with the values it read.
Json FailureJson(const std::string* port, const Failure& failure, const Report* read = nullptr);
Json DetailsJson(const std::vector<PortDetails>& ports);
// One line, compact. Bytes that are not UTF-8 (a port path in another encoding) become U+FFFD.
void PrintJson(const Json& value, std::ostream& out);

}  // namespace valdrix::cli
