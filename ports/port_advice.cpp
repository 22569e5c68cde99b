#include "ports/port_advice.h"

#include "base/translate.h"

namespace valdrix {

std::string HolderText(const PortError& state) {
  return (state.holderName.empty() ? "" : state.holderName + " ") + "(pid " +
         std::to_string(state.holderPid) + ")";
}

std::string StateText(const PortError& state) {
  switch (state.problem) {
    case PortProblem::None:
      return "free";
    case PortProblem::Permission:
      return "permission denied" + (state.group.empty() ? "" : " (group " + state.group + ")");
    case PortProblem::Busy:
      if (!state.server.empty())
        return "in use by another client of the server at " + state.server;
      if (state.holderPid)
        return "in use by " + HolderText(state);
      return state.exclusiveLeft ? "marked exclusive by a program that has ended"
                                 : "in use by another program";
    case PortProblem::Console:
      return "console";
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

namespace {

// Joining the node's group would not help (it has no access, or it is root): give the device to
// dialout with a udev rule, matched by its USB ids where known.
std::string OwnerOnly(const PortError& e) {
  const std::string only = "Only its owner" + (e.owner.empty() ? "" : " (" + e.owner + ")");
  // udev makes no pseudo-terminals: the program that opened one owns its end.
  if (e.kernelName.compare(0, 4, "pts/") == 0)
    return only +
           " can open it: a pseudo-terminal belongs to the program that made it. Start "
           "that program as your own user.";
  std::string match = "SUBSYSTEM==\"tty\", ";
  if (!e.vendorId.empty() && !e.productId.empty())
    match += "ATTRS{idVendor}==\"" + e.vendorId + "\", ATTRS{idProduct}==\"" + e.productId + "\", ";
  else if (!e.kernelName.empty())
    match += "KERNEL==\"" + e.kernelName + "\", ";
  return only +
         " can open it. To give it to the group dialout, put this line in "
         "/etc/udev/rules.d/99-valdrix.rules, then run sudo udevadm control --reload && sudo "
         "udevadm trigger, and add your user to dialout (sudo usermod -aG dialout $USER, then "
         "log out and in again):\n" +
         match + "GROUP=\"dialout\", MODE=\"0660\"";
}

}  // namespace

std::string Hint(const PortError& e) {
  switch (e.problem) {
    case PortProblem::Permission:
      if (e.group.empty())
        return T_("Ask for read and write access to the port.");
      if (e.groupMayOpen)
        return "Add your user to the group " + e.group + ": sudo usermod -aG " + e.group +
               " $USER, then log out and in again.";
      return OwnerOnly(e);
    case PortProblem::Busy:
      if (!e.server.empty())
        return T_(
            "Close that client, or set kickolduser: true in the port's options on the server "
            "(ser2net.yaml), so that a new client takes the port over.");
      if (e.exclusiveLeft)
        return T_(
            "Unplug the adapter and plug it in again; for a pseudo-terminal, restart the "
            "program at its other end.");
      return T_("Close the program that uses the port, or choose another port.");
    case PortProblem::Console:
      return T_(
          "The kernel writes its messages here and may offer a login on it. Disable the serial "
          "console, for example with raspi-config \u2192 Interface Options \u2192 Serial Port "
          "\u2192 no login shell, then reboot.");
    case PortProblem::Missing:
    case PortProblem::NotAPort:
      return T_("Give a serial port: valdrix-config list -l shows them.");
    case PortProblem::Unreachable:
      if (e.serverDeviceFailed)
        return T_(
            "The serial device on the server's side is missing, busy or not permitted: check "
            "it on the server (the device its ser2net.yaml names, that it is plugged in, that "
            "no other program there has it, and that ser2net may open it).");
      return T_(
          "Check that ser2net runs on that machine with a telnet(rfc2217) accepter on that "
          "port, and that no firewall is in the way.");
    default:
      return {};
  }
}

}  // namespace valdrix
