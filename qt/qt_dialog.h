// The dialog seam on a Qt 6 Widgets dialog: the Win32 dialog's controls, texts and enabled
// states, built from the same dialog template. The conversations run on a worker thread; their
// calls to the seam reach the widgets on the GUI thread, so the window repaints and moves while
// a conversation waits on the port. The user's input meanwhile is held back and delivered, in
// order, once the conversation has ended: it never interleaves with one, and never starts a
// second.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QThread>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conversations/configurator.h"
#include "ports/port_details.h"

namespace valdrix {

class QtDialog final : public QDialog, public Dialog {
  Q_OBJECT

 public:
  // The port list's last entry: it asks for a port the listing cannot find.
  static constexpr char OTHER_PORT[] = N_("Other port\u2026");  // translated where shown

  // describe: the serial devices with what identifies them, for the port list's entries.
  QtDialog(SerialBackend& serial, std::function<std::vector<PortDetails>()> describe);
  ~QtDialog() override;

  // Fills the lists as the dialog opens; with a port, adds it to the port list if it is not
  // there, chooses it and searches, as if the user had.
  void Start(const std::string& port = {});
  // After a request to stop (a signal): closes as the Close button does, once the running
  // conversation has ended, which it does at once, its waits cut short. An error box up (the
  // conversation waits on it) or the prompt for a port goes at once, and none comes after: a
  // signal ends the window whatever it shows.
  void RequestClose();

  QWidget* Control(int id) const;
  bool Busy() const { return busy_; }

  // --- the dialog seam; callable from any thread
  void SetText(int id, const std::string& text) override;
  void Enable(int id, bool enable) override;
  void Repaint(int id) override;
  std::string EditText(int id) override;
  void AddEntry(int id, const std::string& text) override;
  std::string CurrentEntry(int id) override;
  void SelectEntry(int id, const std::string& text) override;
  void ClearSelection(int id) override;
  void ErrorBox(const std::string& text) override;
  void End(int result) override;

 signals:
  // A conversation (or a command) has ended and no held input is waiting.
  void Idle();
  // End() was called and the last conversation has returned: the program may stop.
  void Ended(int result);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  using Job = std::function<void(Configurator&)>;
  // Runs job on the worker now, or holds it until the running one has ended.
  void Post(Job job);
  void RunNow(Job job);
  void JobDone();
  void Command(int id, int code);
  // A list's entry chosen by the user; the port list's last entry asks for a port first.
  void Chosen(int id, int index);
  // Adds the port typed in and chooses it; false when the user gave none.
  bool AskForPort();
  template <typename F>
  auto OnGui(F f);

  class ExplainingBackend;
  std::unique_ptr<ExplainingBackend> serial_;
  Configurator cfg_;
  std::function<std::vector<PortDetails>()> describe_;
  std::map<std::string, std::string> portLabels_;  // worker thread only

  std::map<int, QWidget*> controls_;
  QString chosenPort_;  // the port chosen last, restored when no other port is typed in

  QThread worker_;
  QObject* workerContext_ = nullptr;  // lives on worker_
  bool busy_ = false;
  bool ended_ = false;
  bool closing_ = false;  // GUI thread: RequestClose came
  int result_ = 0;
  std::deque<std::function<void()>> held_;
};

// The user's languages, first choice first (LANGUAGE, LC_ALL, LC_MESSAGES, LANG); none under the C
// locale, so that LC_ALL=C gives English as on the command line.
QStringList UserLanguages();
// The window's texts in the first of the languages ("de", "fr", ...) that has a
// catalogue, English when none has (qt/translations.cpp).
void UseQtTranslations(const QStringList& languages = UserLanguages());

}  // namespace valdrix
