// The Qt window is the in-memory dialog's twin, proven: both are driven through one table of
// sequences against the same simulated interface (the fake port, virtual time), and every control
// of the template is compared after every step. Toolkit defaults are where twins part. Then what
// only the Qt seam adds: the port's description, input held back while a conversation runs, the
// 254-character edits and the labels a screen reader reads.
#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <sstream>

#include "conversations/config_dialog.h"
#include "dialog/dialog_template.h"
#include "dialog/memory_dialog.h"
#include "qt/qt_dialog.h"
#include "tests/fakes/fake_port.h"

namespace valdrix {
namespace {

// An interface at a rate holding an address (base 40, count 7), and what the user does, word by
// word: "port" chooses COM3; "Apply", "Close" press; "base=21", "16=3", "8=0" type; "address=5"
// chooses; "Escape"; a word after "+" comes while the conversation before it still runs (the
// window holds it back until then).
struct Sequence {
  const char* name;
  std::uint32_t rate;
  std::uint8_t address;
  enum Fault { None, Silent, Streaming, NoOpen } fault;
  const char* steps;
};

const Sequence kSequences[] = {
    {"found at a rate, then Close", 19200, 12, Sequence::None, "port Close"},
    {"Apply with typed values, then the read-back", 57600, 12, Sequence::None,
     "port base=21 16=3 8=0 address=5 Apply + base=9"},
    {"no interface, with the error box", 57600, 12, Sequence::Silent, "port"},
    {"an address reply of 40, then Apply", 57600, 40, Sequence::None,
     "port base=20 16=127 8=1 Apply"},
    {"a port that cannot be opened", 57600, 12, Sequence::NoOpen, "port"},
    {"a streaming interface", 9600, 12, Sequence::Streaming, "port Close"},
    {"typing x", 38400, 12, Sequence::None, "port base=x 8=x"},
    {"Escape during a search", 19200, 12, Sequence::None, "port + Escape"},
};

// One step: the control and the text typed or the entry chosen.
std::pair<int, std::string> Decode(const std::string& word) {
  const std::map<std::string, int> ids = {{"port", IDC_PORT},         {"Apply", IDOK},
                                          {"Close", IDCANCEL},        {"Escape", IDCANCEL},
                                          {"base", IDC_BASE_ADDRESS}, {"16", IDC_MODULES16},
                                          {"8", IDC_MODULES8},        {"address", IDC_XN_ADDRESS}};
  const std::size_t is = word.find('=');
  return {ids.at(word.substr(0, is)), is == std::string::npos ? "COM3" : word.substr(is + 1)};
}

// What a dialog shows: each control, the error boxes it showed, whether it ended; and what the
// interface then holds.
using Shown = std::map<std::string, std::string>;

std::string Control(const std::string& text, int chosen, const std::vector<std::string>& entries,
                    bool enabled) {
  std::string shown = "'" + text + "', chosen " + std::to_string(chosen) +
                      (enabled ? ", enabled" : ", disabled") + ", entries:";
  for (const std::string& e : entries)
    shown += " " + e;
  return shown;
}

// A seam with its own fake port and interface model.
struct Rig {
  explicit Rig(const Sequence& s)
      : model(InterfaceSettings{102, s.address, 40, 7, s.rate}), serial(&model) {
    model.Faults().silent = s.fault == Sequence::Silent;
    model.Faults().streamAfterOpen = s.fault == Sequence::Streaming;
    if (s.fault == Sequence::NoOpen)
      serial.failOpens = {0};
  }
  // What the interface holds: what the dialog wrote.
  std::string Holds() const {
    const InterfaceSettings& h = model.Settings();
    return std::to_string(h.address) + " " + std::to_string(h.base) + " " + std::to_string(h.count);
  }
  InterfaceModel model;
  FakeSerial serial;
  std::string boxes;  // their first lines
};

// One port, described as a USB adapter; with a console too (which the window alone lists).
std::vector<PortDetails> Adapter(bool console) {
  std::vector<PortDetails> ports{{"COM3", "", "", "", "FTDI", "FT232R USB UART", "A1B2C3", "", {}}};
  if (console) {
    ports.push_back({"/dev/ttyAMA0", "", "", "", "", "", "", "", {}});
    ports.back().state.problem = PortProblem::Console;
  }
  return ports;
}

struct QtRig : Rig {
  explicit QtRig(const Sequence& s, bool console = false)
      : Rig(s), dialog(serial, [console] { return Adapter(console); }) {
    dialog.show();
    dialog.Start();
  }
  template <typename T = QWidget>
  T* At(int id) {
    return qobject_cast<T*>(dialog.Control(id));
  }
  void Do(const std::string& word) {
    const auto [id, text] = Decode(word);
    if (word == "Escape") {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (auto* list = At<QComboBox>(id); list && list->isEnabled()) {
      list->setCurrentIndex(list->findData(QString::fromStdString(text)));
      emit list->activated(list->currentIndex());
    } else if (auto* edit = At<QLineEdit>(id)) {
      QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);  // input too: held while busy
      QTest::keyClicks(edit, QString::fromStdString(text));
    } else if (!list) {
      QTest::mouseClick(At(id), Qt::LeftButton);
    }
  }
  // Once the conversations have ended; error boxes are dismissed as they come.
  Shown Show() {
    QTimer tick;  // wakes the wait to look for a box; the seam's calls wake it at once
    tick.start(20);
    while (dialog.Busy()) {
      for (QMessageBox* box : dialog.findChildren<QMessageBox*>()) {
        if (!box->isVisible())
          continue;
        // The first line is the Windows box's; the second says why, or what to check.
        const QStringList lines = box->text().split('\n');
        boxes += lines[0].toStdString() + (lines.size() == 2 ? "; " : " (no second line); ");
        box->button(QMessageBox::Ok)->click();
      }
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Shown shown{
        {"error boxes", boxes}, {"ended", ended.count() ? "yes" : "no"}, {"interface", Holds()}};
    for (const TemplateControl& t : TEMPLATE_CONTROLS) {
      QWidget* w = At(t.id);
      auto* list = qobject_cast<QComboBox*>(w);
      std::vector<std::string> entries;  // the names, as the logic sees them
      for (int i = 0; list && i < list->count(); ++i) {
        if (list->itemText(i) != QString::fromUtf8(QtDialog::OTHER_PORT))
          entries.push_back(list->itemData(i).toString().toStdString());
      }
      const QVariant text = list ? list->currentData() : w->property("text");
      shown[t.name] = Control(text.toString().toStdString(), list ? list->currentIndex() : -1,
                              entries, w->isEnabled());
    }
    return shown;
  }
  QtDialog dialog;
  QSignalSpy ended{&dialog, &QtDialog::Ended};
};

// The first thing that differs in the sequence, named by step and control; empty when none does.
QString FirstDifference(const Sequence& s) {
  Rig memory(s);
  MemoryDialog dialog;
  Configurator cfg(dialog, memory.serial);
  dialog.SetCommandHandler([&](int id, int code) { OnCommand(cfg, id, code); });
  dialog.onErrorBox = [&](const std::string& text) { memory.boxes += text + "; "; };
  OnInitDialog(cfg);
  QtRig qt(s);
  std::vector<std::string> words{"the start"};
  std::istringstream steps(s.steps);
  for (std::string word; steps >> word;)
    words.push_back(word);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "+")
      continue;
    if (i > 0) {
      const auto [id, text] = Decode(words[i]);
      if (id == IDOK || id == IDCANCEL)
        dialog.Press(id);  // Escape too: the dialog gets IDCANCEL
      else if (!dialog.Choose(id, text))
        dialog.Type(id, text);
      qt.Do(words[i]);
    }
    if (i + 1 < words.size() && words[i + 1] == "+")
      continue;
    const Shown got = qt.Show();
    Shown want{{"error boxes", memory.boxes},
               {"ended", dialog.Ended() ? "yes" : "no"},
               {"interface", memory.Holds()}};
    for (const TemplateControl& t : TEMPLATE_CONTROLS) {
      const bool list = std::string(t.kind) == "ComboBox";
      want[t.name] = Control(list ? dialog.CurrentEntry(t.id) : dialog.Text(t.id),
                             dialog.Selection(t.id), dialog.Entries(t.id), dialog.Enabled(t.id));
    }
    for (const auto& [name, value] : want) {
      if (got.at(name) != value)
        return QString("%1, after %2: %3\n    in memory: %4\n    in Qt:     %5")
            .arg(s.name, words[i].c_str(), name.c_str(), value.c_str(), got.at(name).c_str());
    }
  }
  return {};
}

}  // namespace

class QtDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void TwinOfTheMemoryDialog() {
    QStringList differences;
    for (const Sequence& s : kSequences) {
      if (const QString d = FirstDifference(s); !d.isEmpty())
        differences << d;
    }
    if (!differences.isEmpty())
      QFAIL(qPrintable(differences.join("\n")));
  }

  // What only the Qt seam does, on one window that found the interface.
  void WhatTheQtSeamAdds() {
    QtRig w(kSequences[1], true);
    w.Show();
    w.Do("port");
    w.Show();
    // The entry shows what the port is; the logic gets its bare name. The console comes last,
    // before Other port….
    auto* ports = w.At<QComboBox>(IDC_PORT);
    QCOMPARE(ports->currentText(), QString("COM3 \u2014 FTDI FT232R USB UART (A1B2C3)"));
    QCOMPARE(ports->itemText(ports->count() - 2), QString("/dev/ttyAMA0 \u2014 console"));

    // What the logic can read back: 254 characters.
    QGuiApplication::clipboard()->setText(QString(300, 'y'));
    w.At<QLineEdit>(IDC_MODULES8)->selectAll();
    QTest::keyClick(w.At(IDC_MODULES8), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(w.At<QLineEdit>(IDC_MODULES8)->text(), QString(254, 'y'));

    // Each field is named by its label (IDC_LABEL_X names IDC_X), as a screen reader reads it.
    for (const TemplateControl& label : TEMPLATE_CONTROLS) {
      for (const TemplateControl& field : TEMPLATE_CONTROLS) {
        if ("IDC_LABEL_" + std::string(field.name).substr(4) != label.name)
          continue;
        const auto relations =
            QAccessible::queryAccessibleInterface(w.At(field.id))->relations(QAccessible::Label);
        QCOMPARE(relations.size(), 1);
        QCOMPARE(relations[0].first->object(), w.At(label.id));
      }
    }
  }

  // The language from the system's locale (as on the command line), German labels and status
  // lines; in each language every label and button fits its text, and every status line fits the
  // status line the window was laid out with (the window never grows under the user).
  void InTheUsersLanguage() {
    qputenv("LANG", "de_DE.UTF-8");
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
      qunsetenv(name);
    UseQtTranslations();
    QtRig german(kSequences[0]);
    german.Show();
    german.Do("port");
    german.Show();
    QCOMPARE(german.At<QPushButton>(IDOK)->text(), QString("Übernehmen"));
    QCOMPARE(german.At<QLabel>(IDC_STATUS)->text(), QString("Status: Werte eingeben, Übernehmen"));
    // Qt's own buttons too (the "Other port" dialog's), from the system's Qt translations.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("Abbrechen"));
    for (const QString& language : QString(VALDRIX_LANGUAGES).split(',')) {
      UseQtTranslations({language});
      QtRig w(kSequences[0]);
      for (const TemplateControl& t : TEMPLATE_CONTROLS) {
        QWidget* c = w.At(t.id);
        const QString text = c->property("text").toString();
        QVERIFY2(text.isEmpty() || c->sizeHint().width() <= c->width(), qPrintable(text));
      }
      QLabel* status = w.At<QLabel>(IDC_STATUS);
      for (const char* line : {STATUS_SELECT_PORT, STATUS_SEARCHING, STATUS_READING, STATUS_OPENING,
                               STATUS_ENTER_VALUES, STATUS_WRITING, STATUS_CLOSING}) {
        const QString shown = QString::fromUtf8(Translate(line));
        QVERIFY2(shown != line, qPrintable(language + ": " + line));
        QVERIFY2(status->fontMetrics().horizontalAdvance(shown) <= status->contentsRect().width(),
                 qPrintable(language + ": " + shown));
      }
    }
    UseQtTranslations({});
  }
};

}  // namespace valdrix

QTEST_MAIN(valdrix::QtDialogTest)
#include "qt_dialog_test.moc"
