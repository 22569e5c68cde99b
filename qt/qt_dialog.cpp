#include "qt/qt_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSemaphore>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>

#include "conversations/config_dialog.h"
#include "dialog/dialog_template.h"
#include "interrupt/interrupt.h"
#include "network/network.h"
#include "ports/port_advice.h"

namespace valdrix {
namespace {

// Where the fields begin, in dialog units: the leftmost field of the template. A control left of
// it is a label, or spans both columns when it reaches past it.
constexpr int FieldColumn() {
  int column = 1 << 30;
  for (const TemplateControl& t : TEMPLATE_CONTROLS) {
    const bool field = t.kind[0] == 'C' || t.kind[0] == 'E';  // ComboBox, Edit
    column = field && t.x < column ? t.x : column;
  }
  return column;
}
constexpr int FIELD_COLUMN = FieldColumn();

// What a user does; held back while a conversation runs.
bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

// The port list's entry: the name, then what the device is and its serial number; a console
// says so.
std::string PortLabel(const PortDetails& p) {
  std::string what = WhatItIs(p);
  if (!p.serialNumber.empty())
    what += (what.empty() ? "(" : " (") + p.serialNumber + ")";
  if (p.state.problem == PortProblem::Console)
    what += (what.empty() ? "" : ", ") + StateText(p.state);
  return what.empty() ? p.name : p.name + " \u2014 " + what;
}

QString ToQt(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// The backend as the conversations see it, remembering the port opened last and why an open
// failed, so that the error box that follows can say why and what to do, as the command line does.
class QtDialog::ExplainingBackend : public SerialBackend {
 public:
  explicit ExplainingBackend(SerialBackend& inner) : inner_(inner) {}

  std::vector<std::string> EnumeratePorts() override { return inner_.EnumeratePorts(); }
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error) override {
    PortError why;
    std::unique_ptr<SerialPort> port = inner_.OpenPort(name, rate, &why);
    if (error)
      *error = why;
    name_ = name;
    failed_.reset();
    if (!port)
      failed_ = why;
    return port;
  }

  // The box's text, with a second line for a port that did not open or did not answer.
  std::string Explain(const std::string& text) {
    if (text == ErrorText(PATTERN_NOT_FOUND, name_))
      return text + "\n" + NothingAnsweredHint();
    if (!failed_ || text != ErrorText(PATTERN_OPEN, name_))
      return text;
    const PortError why = *failed_;
    failed_.reset();
    const std::string hint = Hint(why);
    return text + "\n" + StateText(why) + (hint.empty() ? "" : ". " + hint);
  }

 private:
  SerialBackend& inner_;
  std::string name_;
  std::optional<PortError> failed_;
};

QtDialog::QtDialog(SerialBackend& serial, std::function<std::vector<PortDetails>()> describe)
    : serial_(std::make_unique<ExplainingBackend>(serial)),
      cfg_(*this, *serial_),
      describe_(std::move(describe)) {
  setWindowTitle(TEMPLATE_CAPTION);

  // Labels left, fields right, one row for each height the template uses; the status line
  // spans both; the buttons sit in a row below.
  std::set<int> rows;
  for (const TemplateControl& t : TEMPLATE_CONTROLS) {
    if (std::string(t.kind) != "Button")
      rows.insert(t.y);
  }
  auto* grid = new QGridLayout;
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  QWidget* previous = nullptr;
  std::map<int, QLabel*> labels;  // by row: the label that stands there, for the field after it
  for (const TemplateControl& t : TEMPLATE_CONTROLS) {
    const std::string kind = t.kind;
    const int id = t.id;
    QWidget* widget = nullptr;
    if (kind == "Button") {
      auto* button = new QPushButton(T_(t.text), this);
      connect(button, &QPushButton::clicked, this, [this, id] { Command(id, VALDRIX_BN_CLICKED); });
      buttons->addWidget(button);
      widget = button;
    } else if (kind == "ComboBox") {
      auto* combo = new QComboBox(this);
      combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
      connect(combo, &QComboBox::activated, this, [this, id](int index) { Chosen(id, index); });
      widget = combo;
    } else if (kind == "Edit") {
      auto* edit = new QLineEdit(this);
      edit->setMaxLength(static_cast<int>(MAX_EDIT_TEXT));
      if (t.styles & TemplateControl::DigitsOnly)
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
      // Typed text only: the conversations' own texts notify through SetText.
      connect(edit, &QLineEdit::textEdited, this, [this, id] { Command(id, VALDRIX_EN_CHANGE); });
      widget = edit;
    } else {
      auto* label = new QLabel(T_(t.text), this);
      if (t.styles & TemplateControl::Sunken)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      labels[t.y] = label;
      widget = label;
    }
    // Each field is named by the label before it in its row, as a screen reader reads it.
    if ((kind == "ComboBox" || kind == "Edit") && labels.count(t.y))
      labels[t.y]->setBuddy(widget);
    widget->setEnabled(!(t.styles & TemplateControl::Disabled));
    if (kind != "Button") {
      const int row = static_cast<int>(std::distance(rows.begin(), rows.find(t.y)));
      const bool spans = t.x < FIELD_COLUMN && t.x + t.width > FIELD_COLUMN;
      grid->addWidget(widget, row, t.x < FIELD_COLUMN ? 0 : 1, 1, spans ? 2 : 1);
    }
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previous)
        setTabOrder(previous, widget);
      previous = widget;
    }
    controls_[id] = widget;
  }
  // A port the listing cannot find (a pseudo-terminal, a port on another machine) is typed in.
  auto* ports = static_cast<QComboBox*>(Control(IDC_PORT));
  ports->addItem(QString::fromUtf8(T_(OTHER_PORT)));
  ports->setCurrentIndex(-1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  workerContext_ = new QObject;
  workerContext_->moveToThread(&worker_);
  worker_.start();
  qApp->installEventFilter(this);
}

QtDialog::~QtDialog() {
  // Let the running conversation end (its calls reach this thread), then stop the worker.
  ended_ = true;
  held_.clear();
  if (busy_) {
    QEventLoop loop;
    connect(this, &QtDialog::Ended, &loop, &QEventLoop::quit);
    loop.exec();
  }
  worker_.quit();
  worker_.wait();
  delete workerContext_;
}

template <typename F>
auto QtDialog::OnGui(F f) {
  if constexpr (std::is_void_v<decltype(f())>) {
    if (QThread::currentThread() == thread())
      f();
    else
      QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
  } else {
    decltype(f()) result{};
    if (QThread::currentThread() == thread())
      result = f();
    else
      QMetaObject::invokeMethod(
          this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

QWidget* QtDialog::Control(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtDialog::Start(const std::string& port) {
  Post([this, port](Configurator& cfg) {
    std::vector<std::string> consoles;
    for (const PortDetails& p : describe_()) {
      portLabels_[p.name] = PortLabel(p);
      if (p.state.problem == PortProblem::Console)
        consoles.push_back(p.name);
    }
    OnInitDialog(cfg);
    const auto listed = [this](const std::string& name) {
      return OnGui(
          [&] { return static_cast<QComboBox*>(Control(IDC_PORT))->findData(ToQt(name)) >= 0; });
    };
    if (!port.empty() && !listed(port))
      AddEntry(IDC_PORT, port);
    // Last, after the free ports and the one given: a user who means the console finds it, and
    // choosing it says why it will not do.
    for (const std::string& name : consoles) {
      if (!listed(name))
        AddEntry(IDC_PORT, name);
    }
    if (port.empty())
      return;
    OnGui([&] {
      auto* list = static_cast<QComboBox*>(Control(IDC_PORT));
      list->setCurrentIndex(list->findData(ToQt(port)));
      chosenPort_ = ToQt(port);
    });
    OnCommand(cfg, IDC_PORT, VALDRIX_CBN_SELENDOK);
  });
}

void QtDialog::Chosen(int id, int index) {
  auto* list = static_cast<QComboBox*>(Control(id));
  if (id == IDC_PORT) {
    if (index == list->count() - 1 && !AskForPort())
      return;
    chosenPort_ = list->currentData().toString();
  }
  Command(id, VALDRIX_CBN_SELENDOK);
}

bool QtDialog::AskForPort() {
  auto* ports = static_cast<QComboBox*>(Control(IDC_PORT));
  QString name;
  for (;;) {
    bool ok = false;
    if (!closing_) {
      name = QInputDialog::getText(this, QString::fromUtf8(T_(OTHER_PORT)),
                                   T_("A serial device such as /dev/ttyUSB0, or a port on another "
                                      "machine as rfc2217://HOST:PORT:"),
                                   QLineEdit::Normal, name, &ok)
                 .trimmed();
    }
    if (!ok || name.isEmpty() || closing_) {
      ports->setCurrentIndex(ports->findData(chosenPort_));  // as it was
      return false;
    }
    const std::string refused = RefusedPortName(name.toStdString());
    if (refused.empty())
      break;
    QMessageBox(QMessageBox::NoIcon, T_(ERROR_CAPTION), ToQt(refused), QMessageBox::Ok, this)
        .exec();
  }
  if (ports->findData(name) < 0)
    AddEntry(IDC_PORT, name.toStdString());
  ports->setCurrentIndex(ports->findData(name));
  return true;
}

void QtDialog::RequestClose() {
  closing_ = true;
  for (QDialog* box : findChildren<QDialog*>())
    box->reject();
  // The running conversation's waits have ended (the request to stop); the close talks again.
  Post([](Configurator& cfg) {
    const interrupt::CloseStage closing;
    cfg.stopping = true;
    OnCommand(cfg, IDCANCEL, VALDRIX_BN_CLICKED);
  });
}

void QtDialog::Command(int id, int code) {
  Post([id, code](Configurator& cfg) { OnCommand(cfg, id, code); });
}

void QtDialog::Post(Job job) {
  if (ended_)
    return;
  if (busy_)
    held_.push_back([this, job] { RunNow(job); });
  else
    RunNow(std::move(job));
}

void QtDialog::RunNow(Job job) {
  busy_ = true;
  QMetaObject::invokeMethod(workerContext_, [this, job] {
    job(cfg_);
    QMetaObject::invokeMethod(
        this, [this] { JobDone(); }, Qt::QueuedConnection);
  });
}

void QtDialog::JobDone() {
  busy_ = false;
  // What the user did meanwhile, in order, until it starts the next conversation.
  while (!busy_ && !ended_ && !held_.empty()) {
    const std::function<void()> next = std::move(held_.front());
    held_.pop_front();
    next();
  }
  if (ended_) {
    held_.clear();
    emit Ended(result_);
  } else if (!busy_) {
    emit Idle();
  }
}

bool QtDialog::eventFilter(QObject* watched, QEvent* event) {
  if (!busy_ || !IsInput(event->type()))
    return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // The error box and the lists' pop-ups are windows of their own and stay usable.
  if (!widget || widget->window() != this)
    return false;
  QPointer<QObject> target(watched);
  std::shared_ptr<QEvent> copy(event->clone());
  held_.push_back([target, copy] {
    if (target)
      QCoreApplication::sendEvent(target, copy.get());
  });
  return true;
}

void QtDialog::closeEvent(QCloseEvent* event) {
  if (ended_) {
    event->accept();
    return;
  }
  // The window's close command: the dialog logic closes the interface and ends the dialog.
  event->ignore();
  Post([](Configurator& cfg) { OnClose(cfg); });
}

void QtDialog::reject() {
  // Escape, as the Close button.
  Command(IDCANCEL, VALDRIX_BN_CLICKED);
}

// --- the dialog seam

void QtDialog::SetText(int id, const std::string& text) {
  const bool isEdit = OnGui([&] {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(ToQt(text));
      return true;
    }
    if (auto* label = qobject_cast<QLabel*>(w))
      label->setText(ToQt(text));
    else if (auto* button = qobject_cast<QPushButton*>(w))
      button->setText(ToQt(text));
    return false;
  });
  // An edit reports every change of its text at once, from inside the call, as on Windows.
  if (isEdit)
    OnCommand(cfg_, id, VALDRIX_EN_CHANGE);
}

void QtDialog::Enable(int id, bool enable) {
  OnGui([&] { Control(id)->setEnabled(enable); });
}

void QtDialog::Repaint(int id) {
  OnGui([&] { Control(id)->repaint(); });
}

std::string QtDialog::EditText(int id) {
  return OnGui([&] {
    const auto* edit = qobject_cast<QLineEdit*>(Control(id));
    return edit ? edit->text().left(static_cast<qsizetype>(MAX_EDIT_TEXT)).toStdString()
                : std::string();
  });
}

void QtDialog::AddEntry(int id, const std::string& text) {
  const auto label = portLabels_.find(text);
  const std::string shown = id == IDC_PORT && label != portLabels_.end() ? label->second : text;
  // The entry shows what identifies the port; the logic and the messages use its name. A Win32
  // drop-down list chooses nothing when it is filled; a QComboBox would choose its first entry.
  OnGui([&] {
    auto* list = static_cast<QComboBox*>(Control(id));
    const int chosen = list->currentIndex();
    list->insertItem(id == IDC_PORT ? list->count() - 1 : list->count(), ToQt(shown), ToQt(text));
    if (chosen < 0)
      list->setCurrentIndex(-1);
  });
}

std::string QtDialog::CurrentEntry(int id) {
  return OnGui([&] {
    const auto* list = static_cast<QComboBox*>(Control(id));
    return list->currentIndex() < 0 ? std::string() : list->currentData().toString().toStdString();
  });
}

void QtDialog::SelectEntry(int id, const std::string& text) {
  // As the Win32 list does: the first entry that begins with the text, ignoring case.
  OnGui([&] {
    auto* list = static_cast<QComboBox*>(Control(id));
    for (int i = 0; i < list->count(); ++i) {
      if (list->itemData(i).toString().startsWith(ToQt(text), Qt::CaseInsensitive)) {
        list->setCurrentIndex(i);
        return;
      }
    }
  });
}

void QtDialog::ClearSelection(int id) {
  OnGui([&] { static_cast<QComboBox*>(Control(id))->setCurrentIndex(-1); });
}

void QtDialog::ErrorBox(const std::string& text) {
  const QString shown = ToQt(serial_->Explain(text));
  if (QThread::currentThread() == thread()) {
    if (!closing_)
      QMessageBox(QMessageBox::NoIcon, T_(ERROR_CAPTION), shown, QMessageBox::Ok, this).exec();
    return;
  }
  // Modal for the conversation, which waits; the GUI thread goes on with its own loop.
  QSemaphore dismissed;
  OnGui([&] {
    if (closing_) {
      dismissed.release();
      return;
    }
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, T_(ERROR_CAPTION), shown, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(
        box, &QMessageBox::finished, box, [&dismissed] { dismissed.release(); },
        Qt::SingleShotConnection);
    box->open();
  });
  dismissed.acquire();
}

void QtDialog::End(int result) {
  OnGui([&] {
    ended_ = true;
    result_ = result;
    done(result);
  });
}

}  // namespace valdrix
