// valdrix-configurator: the configurator dialog as a native window on Linux.

#include <signal.h>

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "interrupt/interrupt.h"
#include "network/network.h"
#include "ports/port_details.h"
#include "qt/qt_dialog.h"
#include "serial/serial_posix.h"

namespace {

constexpr int EXIT_NO_DISPLAY = 1;
constexpr int EXIT_USAGE = 2;

constexpr char USAGE[] =
    "Usage: valdrix-configurator [PORT]\n"
    "Find a Valdrix interface on a serial port, show its settings and change them, in a window.\n"
    "\n"
    "With PORT (a serial device such as /dev/ttyUSB0, or rfc2217://HOST:PORT for a port\n"
    "served by ser2net on another machine), the window adds it to its port list if it is not\n"
    "there, chooses it and starts the search at once. Without it, choose the port in the\n"
    "window; the port list's last entry takes a port that the list does not show.\n"
    "\n"
    "Options:\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the window was closed (Close, Escape, the window's close button, SIGINT, SIGTERM or\n"
    "     SIGHUP; each closes the interface first)\n"
    "  1  no display could be opened\n"
    "  2  bad usage\n";

// Said instead of Qt's own abort when there is no display to open the window on.
void SayNoDisplay(const char* display) {
  std::cerr << "valdrix-configurator: no display could be opened ("
            << (display ? std::string("DISPLAY=") + display : "DISPLAY is not set")
            << "); start it in a desktop session or over ssh -X, or use valdrix-config\n";
}

// While Qt connects to the display: its messages wait, and its fatal one (no display) becomes
// ours, with our exit status.
std::vector<std::string> heldMessages;
void HoldMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtFatalMsg) {
    heldMessages.push_back(message.toStdString());
    return;
  }
  SayNoDisplay(std::getenv("DISPLAY"));
  std::_Exit(EXIT_NO_DISPLAY);
}

// The one place the serial backend is chosen.
std::unique_ptr<valdrix::SerialBackend> MakeSerialBackend() {
  return valdrix::MakeRoutingSerial(valdrix::MakePosixSerial(),
                                    valdrix::NetworkPolicy::PerConversation);
}

// The first signal asks the window to close; a second one while the close goes out does not cut
// it short, as it would on the command line, which can say so: the window has nobody to tell.
void OnSignal(int sig) {
  if (valdrix::interrupt::Signal() == 0)
    valdrix::interrupt::Raise(sig);  // which keeps errno
}

}  // namespace

int main(int argc, char** argv) {
  std::string port;
  if (argc > 2) {
    std::cerr << "valdrix-configurator: at most one port\n" << USAGE;
    return EXIT_USAGE;
  }
  if (argc == 2) {
    const std::string arg = argv[1];
    if (arg == "--help") {
      std::cout << USAGE;
      return EXIT_SUCCESS;
    }
    if (arg == "--version") {
      std::cout << "valdrix-configurator " VALDRIX_VERSION_TEXT "\n";
      return EXIT_SUCCESS;
    }
    if (arg.empty() || arg[0] == '-') {
      std::cerr << "valdrix-configurator: unknown option " << arg << "\n" << USAGE;
      return EXIT_USAGE;
    }
    port = arg;
  }
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
      !std::getenv("QT_QPA_PLATFORM")) {
    SayNoDisplay(nullptr);
    return EXIT_NO_DISPLAY;
  }

  // Qt takes none of our arguments for its own options.
  int qtArgc = 1;
  qInstallMessageHandler(HoldMessages);
  QApplication app(qtArgc, argv);
  qInstallMessageHandler(nullptr);
  for (const std::string& message : heldMessages)
    std::cerr << message << "\n";
  app.setQuitOnLastWindowClosed(false);
  valdrix::UseQtTranslations();
  // The launcher's name and icon, so that the desktop pairs the window with them.
  app.setDesktopFileName("valdrix-configurator");
  app.setWindowIcon(QIcon::fromTheme("valdrix-configurator"));

  // SIGINT (Ctrl-C in the terminal that started it), SIGTERM and SIGHUP close the window as Close
  // does: the request to stop cuts the running conversation's waits short and wakes this thread.
  valdrix::interrupt::Install();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaction(sig, &action, nullptr);
  QSocketNotifier signalled(valdrix::interrupt::WakeFd(), QSocketNotifier::Read);
  const std::unique_ptr<valdrix::SerialBackend> serial = MakeSerialBackend();
  valdrix::QtDialog dialog(*serial, [] { return valdrix::DescribePorts(); });
  // The descriptor stays readable once raised: one close is enough.
  QObject::connect(&signalled, &QSocketNotifier::activated, &dialog, [&dialog, &signalled] {
    signalled.setEnabled(false);
    dialog.RequestClose();
  });
  QObject::connect(&dialog, &valdrix::QtDialog::Ended, &app, [&app] { app.quit(); });
  dialog.show();
  dialog.Start(port);
  app.exec();
  return EXIT_SUCCESS;
}
