// What the Qt window adds to the dialog logic: the seam's calls marshalled to the widgets, the
// controls mapped to the logic's ids, and the user's input held back while a conversation runs.
// Real widgets on the offscreen platform, valdrix-sim on a pseudo-terminal; the conversations
// themselves are the unit suite's business.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "dialog/controls.h"
#include "ports/port_advice.h"
#include "qt/qt_dialog.h"
#include "serial/serial_posix.h"

namespace valdrix {
namespace {

constexpr int SLOW_MS = 20000;  // a search with its drains, and Apply's three

// valdrix-sim on a pseudo-terminal reached through Link(), logging to a file; QProcess ends it.
class Sim {
 public:
  explicit Sim(QStringList options) {
    options << "--link" << Link() << "--log" << dir_.filePath("log");
    process_.start(VALDRIX_SIM_PATH, options);
    process_.waitForReadyRead(5000);  // the terminal's path, once the link is there
  }
  QString Link() const { return dir_.filePath("tty"); }

  // What the interface took as settings (the open and close frames among them), as
  // "F2 01 0C FF @19200": queries of a value and of the version are left out.
  QStringList SetFrames() const {
    QFile log(dir_.filePath("log"));
    log.open(QIODevice::ReadOnly);
    const QRegularExpression rx(
        R"re("dir":"rx","hex":"(F2 (?!FD)\w\w (?!FF)\w\w \w\w)","rate":(\d+))re");
    QStringList frames;
    for (auto it = rx.globalMatch(QString::fromUtf8(log.readAll())); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      frames << m.captured(1) + " @" + m.captured(2);
    }
    return frames;
  }

 private:
  QTemporaryDir dir_;
  QProcess process_;
};

// The window on the POSIX backend, with one port described as a USB adapter, and a console.
struct Window {
  explicit Window(const QString& port)
      : dialog(*serial, [port] {
          PortDetails p;
          p.name = port.toStdString();
          p.manufacturer = "FTDI";
          p.product = "FT232R USB UART";
          p.serialNumber = "A1B2C3";
          PortDetails console;
          console.name = "/dev/ttyAMA0";
          console.state.problem = PortProblem::Console;
          return std::vector<PortDetails>{p, console};
        }) {
    dialog.show();
  }
  template <typename T = QWidget>
  T* At(int id) {
    return qobject_cast<T*>(dialog.Control(id));
  }
  QString Text(int id) {
    if (auto* list = At<QComboBox>(id))
      return list->currentText();
    return At<QLineEdit>(id) ? At<QLineEdit>(id)->text() : At<QLabel>(id)->text();
  }
  bool WaitIdle(int ms = SLOW_MS) {
    return QTest::qWaitFor([this] { return !dialog.Busy(); }, ms);
  }

  std::unique_ptr<SerialBackend> serial = MakePosixSerial();
  QtDialog dialog;
  QSignalSpy ended{&dialog, &QtDialog::Ended};
};

}  // namespace

class QtDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void FoundEditedAppliedAndClosed() {
    Sim sim({"--rate", "19200", "--address", "12", "--base", "40", "--count", "7"});
    Window w(sim.Link());
    w.dialog.Start(sim.Link().toStdString());
    QVERIFY(w.WaitIdle());

    // The port list shows what the port is; the logic gets its bare name.
    QCOMPARE(w.Text(IDC_PORT), sim.Link() + " \u2014 FTDI FT232R USB UART (A1B2C3)");
    QCOMPARE(w.dialog.CurrentEntry(IDC_PORT), sim.Link().toStdString());
    auto* ports = w.At<QComboBox>(IDC_PORT);
    QCOMPARE(ports->itemText(ports->count() - 1), QString("/dev/ttyAMA0 \u2014 console"));
    QStringList shown;
    for (const int id : {IDC_RATE, IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8,
                         IDC_STATUS, IDC_VERSION})
      shown << w.Text(id);
    QCOMPARE(shown, (QStringList{"19200", "12", "40", "3", "1", STATUS_ENTER_VALUES, "1.02"}));
    // In template order: Apply, Close, six labels, port, rate, address, base, 16-bit, 8-bit,
    // status, a label, version.
    QString enabled;
    for (const int id : w.dialog.ControlIds())
      enabled += w.dialog.Control(id)->isEnabled() ? '1' : '0';
    QCOMPARE(enabled, QString("01111111001111110"));
    // The tab order is the template's.
    QWidgetList tabs{w.At(IDOK)}, expected;
    for (QWidget* at = tabs[0]->nextInFocusChain(); tabs.size() < 9; at = at->nextInFocusChain()) {
      if (at->focusPolicy() & Qt::TabFocus)
        tabs << at;
    }
    for (const int id : {IDOK, IDCANCEL, IDC_PORT, IDC_RATE, IDC_XN_ADDRESS, IDC_BASE_ADDRESS,
                         IDC_MODULES16, IDC_MODULES8, IDC_VERSION})
      expected << w.At(id);
    QCOMPARE(tabs, expected);

    // Typing: digits only in the base address, anything (up to 254 characters) in the 8-bit
    // count; the first key enables Apply, the keys typed while that ran follow in order.
    w.At<QLineEdit>(IDC_BASE_ADDRESS)->selectAll();
    QTest::keyClicks(w.At(IDC_BASE_ADDRESS), "2x1");
    w.At<QLineEdit>(IDC_MODULES8)->selectAll();
    QTest::keyClicks(w.At(IDC_MODULES8), QString(300, 'y'));
    QVERIFY(w.WaitIdle());
    QCOMPARE(w.Text(IDC_BASE_ADDRESS), QString("21"));
    QCOMPARE(w.Text(IDC_MODULES8), QString(254, 'y'));
    QVERIFY(w.At(IDOK)->isEnabled());

    // A key typed as Apply starts reaches the field only after the write and the read-back.
    QTest::mouseClick(w.At(IDOK), Qt::LeftButton);
    QTest::keyClick(w.At(IDC_BASE_ADDRESS), Qt::Key_9);
    QVERIFY(w.dialog.Busy());
    QVERIFY(w.WaitIdle());
    QCOMPARE(w.Text(IDC_BASE_ADDRESS), QString("219"));
    QCOMPARE(w.Text(IDC_MODULES8), QString("0"));
    QVERIFY(w.At(IDOK)->isEnabled());

    QTest::mouseClick(w.At(IDCANCEL), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.ended.count(), 1, SLOW_MS);
    QVERIFY(!w.dialog.isVisible());
    QCOMPARE(sim.SetFrames(), (QStringList{
                                  "F2 FF 01 0C @19200",  // open, after the search
                                  "F2 01 0C FF @19200",  // Apply: address 12
                                  "F2 F1 15 16 @19200",  // base 21
                                  "F2 F2 06 06 @19200",  // count 2 x 3 + 0
                                  "F2 FF 01 0C @19200",  // open, after the read-back
                                  "F2 FF 00 0D @19200",  // close
                              }));
  }

  void EscapeDuringSearchClosesAfterIt() {
    Sim sim({"--rate", "19200"});
    Window w(sim.Link());
    w.dialog.Start(sim.Link().toStdString());
    QTest::qWait(300);  // within the silent read at 9600
    QTest::keyClick(&w.dialog, Qt::Key_Escape);
    QCOMPARE(w.ended.count(), 0);
    QCOMPARE(w.Text(IDC_STATUS), QString(STATUS_SEARCHING));
    QTRY_COMPARE_WITH_TIMEOUT(w.ended.count(), 1, SLOW_MS);
    QCOMPARE(w.Text(IDC_VERSION), QString("1.02"));
    QCOMPARE(sim.SetFrames(), (QStringList{"F2 FF 01 0C @19200", "F2 FF 00 0D @19200"}));
  }

  void PortThatCannotOpenSaysWhy() {
    QTemporaryDir dir;
    const QString notes = dir.filePath("notes.txt");
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("layout notes\n") > 0);
    file.close();
    Window w(notes);
    w.dialog.Start(notes.toStdString());
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = w.dialog.findChild<QMessageBox*>()) && box->isVisible());
    PortError notAPort;
    notAPort.problem = PortProblem::NotAPort;
    QCOMPARE(box->windowTitle(), QString(ERROR_CAPTION));
    QCOMPARE(box->text().split('\n'),
             (QStringList{QString::fromStdString(ErrorText(PATTERN_OPEN, notes.toStdString())),
                          QString::fromStdString(StateText(notAPort) + ". " + Hint(notAPort))}));
    box->button(QMessageBox::Ok)->click();
    QVERIFY(w.WaitIdle());
    QCOMPARE(w.Text(IDC_STATUS), QString(STATUS_SELECT_PORT));
    QVERIFY(w.At(IDC_PORT)->isEnabled());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("layout notes\n"));
  }
};

}  // namespace valdrix

QTEST_MAIN(valdrix::QtDialogTest)
#include "qt_dialog_test.moc"
