#include "ports/port_details.h"

namespace valdrix {

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ie = i;
      std::size_t je = j;
      while (ie < a.size() && isDigit(a[ie]))
        ++ie;
      while (je < b.size() && isDigit(b[je]))
        ++je;
      std::size_t is = i;
      std::size_t js = j;
      while (is + 1 < ie && a[is] == '0')
        ++is;
      while (js + 1 < je && b[js] == '0')
        ++js;
      if (ie - is != je - js)
        return ie - is < je - js;
      const int order = a.compare(is, ie - is, b, js, je - js);
      if (order != 0)
        return order < 0;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if (a.size() - i != b.size() - j)
    return a.size() - i < b.size() - j;
  return a < b;  // same up to leading zeros: any fixed tie-break keeps the order stable
}

std::string WhatItIs(const PortDetails& p) {
  if (!p.description.empty())
    return p.description;
  return p.manufacturer + (p.manufacturer.empty() || p.product.empty() ? "" : " ") + p.product;
}

std::vector<std::string> FreePorts(const std::vector<PortDetails>& ports) {
  std::vector<std::string> names;
  for (const PortDetails& port : ports) {
    if (port.state.problem == PortProblem::None)
      names.push_back(port.name);
  }
  return names;
}

}  // namespace valdrix
