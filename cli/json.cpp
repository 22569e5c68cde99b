#include "cli/json.h"

#include "cli/settings_table.h"
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
  for (const Setting& s : kSettings) {
    if (keys.*s.value)
      object[s.key] = OrNull(values.*s.value);
  }
  return object;
}

// {"name":"minicom","pid":1234}; null when the holder is unknown.
Json HolderJson(const std::string& name, long pid) {
  return pid ? Json{{"name", OrNull(name)}, {"pid", pid}} : Json();
}

}  // namespace

Json ReportJson(const Report& r) {
  Json object{{"port", OrNull(r.port)}, {"rate", OrNull(r.rate)}, {"version", OrNull(r.version)}};
  for (const Setting& s : kSettings)
    object[s.key] = OrNull(r.values.*s.value);
  return object;
}

Json FailureJson(const std::string* port, const Failure& f, const Report* read) {
  Json object = read ? ReportJson(*read) : Json::object();
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
  if (f.reason == Reason::Interrupted)
    object["signal"] = f.signal;
  if (f.setting) {
    object["written"] = ValuesJson(f.written, f.written);
    object["not_written"] = ValuesJson(f.notWritten, f.notWritten);
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
