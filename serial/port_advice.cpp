#include "serial/port_advice.h"

namespace valdrix {

std::string StateText(const PortError& state) {
  switch (state.problem) {
    case PortProblem::None:
      return "free";
    case PortProblem::Permission:
      return "permission denied" + (state.group.empty() ? "" : " (group " + state.group + ")");
    case PortProblem::Busy:
      return "in use" + (state.holder.empty() ? " by another program" : " by " + state.holder);
    case PortProblem::Missing:
      return "no such port";
    case PortProblem::NotAPort:
      return "not a serial port";
    case PortProblem::Unreachable:
      return state.detail.empty() ? "unreachable" : state.detail;
    default:
      return state.detail.empty() ? "cannot be opened" : state.detail;
  }
}

std::string Hint(const PortError& e) {
  switch (e.problem) {
    case PortProblem::Permission:
      if (e.group.empty())
        return "Ask for read and write access to the port.";
      return "Add your user to the group " + e.group + ": sudo usermod -aG " + e.group +
             " $USER, then log out and in again.";
    case PortProblem::Busy:
      return "Close the program that uses the port, or choose another port.";
    case PortProblem::Missing:
    case PortProblem::NotAPort:
      return "Give a serial port: valdrix-config list -l shows them.";
    case PortProblem::Unreachable:
      return "Check that ser2net runs on that machine with a telnet(rfc2217) accepter on that "
             "port, and that no firewall is in the way.";
    default:
      return {};
  }
}

}  // namespace valdrix
