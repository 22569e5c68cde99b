#include "cli/json.h"

#include "ports/port_advice.h"

namespace valdrix::cli {
namespace {

// A text, or null when it is empty or missing.
template <typename T>
Json OrNull(const T& value) {
  if constexpr (std::is_same_v<T, std::string>)
    return value.empty() ? Json() : Json(value);
  else
    return value ? Json(*value) : Json();
}

// The keys given a value in keys, each with its value in values (null where that has none).
Json ValuesJson(const Settings& keys, const Settings& values) {
  Json object = Json::object();
  for (const auto& [key, value] :
       {std::pair{"address", &Settings::address}, std::pair{"base", &Settings::base},
        std::pair{"modules16", &Settings::modules16}, std::pair{"modules8", &Settings::modules8}}) {
    if (keys.*value)
      object[key] = OrNull(values.*value);
  }
  return object;
}

// {"name":"minicom","pid":1234}; null when the holder is unknown.
Json HolderJson(const std::string& name, long pid) {
  return pid ? Json{{"name", OrNull(name)}, {"pid", pid}} : Json();
}

}  // namespace

Json ReportJson(const Report& r) {
  return Json{{"port", OrNull(r.port)},        {"rate", OrNull(r.rate)},
              {"version", OrNull(r.version)},  {"address", OrNull(r.address)},
              {"base", OrNull(r.base)},        {"modules16", OrNull(r.modules16)},
              {"modules8", OrNull(r.modules8)}};
}

Json FailureJson(const std::string* port, const Failure& f) {
  Json object;
  if (port)
    object["port"] = OrNull(*port);
  object["error"] = OrNull(f.message);
  object["reason"] = ReasonWord(f.reason);
  if (f.reason == Reason::Busy)
    object["holder"] = HolderJson(f.holderName, f.holderPid);
  if (f.reason == Reason::Mismatch) {
    // The keys of the values not kept; what the interface did not report is null.
    object["asked"] = ValuesJson(f.asked, f.asked);
    object["read"] = ValuesJson(f.asked, f.read);
  }
  if (f.reason == Reason::Interrupted) {
    object["signal"] = f.signal;
    if (f.setting) {
      object["written"] = ValuesJson(f.written, f.written);
      object["not_written"] = ValuesJson(f.notWritten, f.notWritten);
    }
  }
  return object;
}

Json DetailsJson(const std::vector<PortDetails>& ports) {
  Json list = Json::array();
  for (const PortDetails& p : ports) {
    list.push_back(Json{{"port", OrNull(p.name)},
                        {"by_id", OrNull(p.byId)},
                        {"vendor_id", OrNull(p.vendorId)},
                        {"product_id", OrNull(p.productId)},
                        {"manufacturer", OrNull(p.manufacturer)},
                        {"product", OrNull(p.product)},
                        {"serial", OrNull(p.serialNumber)},
                        {"description", OrNull(p.description)},
                        {"state", OrNull(StateText(p.state))},
                        {"holder", HolderJson(p.state.holderName, p.state.holderPid)},
                        {"group", OrNull(p.state.group)}});
  }
  return list;
}

void PrintJson(const Json& value, std::ostream& out) {
  out << value.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace valdrix::cli
